#include "link_change_plan.h"

#include <map>
#include <set>

namespace tavrolin::server {

LinkChangePlan planLinkChanges(const std::vector<LinkStatement>& statements) {
    struct State {
        bool lastIsInsert = false;
        bool deletedBeforeLastInsert = false;
        bool deleted = false;
    };
    std::map<LinkKey, State> links;
    LinkChangePlan plan;
    std::set<std::int64_t> vendorsSeen;
    for (const auto& statement : statements) {
        if (const auto* add = std::get_if<LinkInsert>(&statement)) {
            if (vendorsSeen.insert(add->vendorId).second)
                plan.insertedVendors.push_back(add->vendorId);
            auto& state = links[{add->employeeId, add->vendorId}];
            state.lastIsInsert = true;
            state.deletedBeforeLastInsert = state.deleted;
        } else {
            const auto& drop = std::get<LinkDelete>(statement);
            for (const auto vendorId : drop.vendorIds) {
                auto& state = links[{drop.employeeId, vendorId}];
                state.lastIsInsert = false;
                state.deleted = true;
            }
        }
    }
    for (const auto& [key, state] : links) {
        if (!state.lastIsInsert || state.deletedBeforeLastInsert) plan.deletes.push_back(key);
        if (state.lastIsInsert) plan.inserts.push_back(key);
    }
    return plan;
}

}  // namespace tavrolin::server
