#pragma once

// The vendor document of one employee: the XML that the control reads by position.
//
//   <VendorDocument>
//     <Header><Counts><VendorCount>n</VendorCount><SelectedCount>m</SelectedCount></Counts></Header>
//     <Vendors><Vendor><VendorID>id</VendorID><VendorName>name</VendorName></Vendor>...</Vendors>
//     <SelectedVendors>...same records...</SelectedVendors>
//   </VendorDocument>
//
// It is written without any white space between elements and without comments, since every
// node would shift the positions the control reads.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin::server {

struct VendorRecord {
    std::int64_t id;
    std::string name;  // UTF-8
};

std::string escapeXmlText(std::string_view text);

// Builds the document from the two lists, in the order given.
std::string buildVendorDocument(const std::vector<VendorRecord>& nonSelected,
                                const std::vector<VendorRecord>& selected);

struct VersionedDocument {
    std::int64_t version;  // the database's change counter the document was read at
    std::string body;
};

}  // namespace tavrolin::server
