// The statement parser accepts exactly the two statement shapes, whatever the spacing and
// letter case, and what it reads from an accepted text is what the text says.

#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "statement_parser.h"

using namespace tavrolin::server;

namespace {

// The statements as the control renders them.
std::string render(const LinkStatement& statement) {
    if (const auto* insert = std::get_if<LinkInsert>(&statement))
        return "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) "
               "VALUES (" +
               std::to_string(insert->employeeId) + "," + std::to_string(insert->vendorId) +
               ",GETDATE() ) ";
    const auto& remove = std::get<LinkDelete>(statement);
    std::string text = "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=" +
                       std::to_string(remove.employeeId) + " AND VendorID IN(";
    for (std::size_t i = 0; i < remove.vendorIds.size(); ++i)
        text += (i ? "," : "") + std::to_string(remove.vendorIds[i]);
    return text + ")";
}

// The text without white space and in lower case, read piece by piece against a shape.
class Squeezed {
  public:
    explicit Squeezed(std::string_view text) {
        for (const char c : text)
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
                mText += char(std::tolower(static_cast<unsigned char>(c)));
    }
    bool literal(std::string_view expected) {
        if (mText.compare(mPos, expected.size(), expected) != 0) return false;
        mPos += expected.size();
        return true;
    }
    template <typename Integer>
    bool number(Integer expected) {
        std::size_t end = mPos;
        if (end < mText.size() && mText[end] == '-') ++end;
        while (end < mText.size() && std::isdigit(static_cast<unsigned char>(mText[end]))) ++end;
        Integer value{};
        const auto [ptr, ec] = std::from_chars(mText.data() + mPos, mText.data() + end, value);
        if (ec != std::errc() || ptr != mText.data() + end || value != expected) return false;
        mPos = end;
        return true;
    }
    bool atEnd() const { return mPos == mText.size(); }

  private:
    std::string mText;
    std::size_t mPos = 0;
};

// The accepted text is one of the two shapes, carrying exactly the parsed numbers.
bool matchesShape(std::string_view text, const LinkStatement& statement) {
    Squeezed s(text);
    if (const auto* insert = std::get_if<LinkInsert>(&statement))
        return s.literal(
                   "insertintovendoremployeecrossreference(employeeid,vendorid,"
                   "recordlastupdated)values(") &&
               s.number(insert->employeeId) && s.literal(",") && s.number(insert->vendorId) &&
               s.literal(",getdate())") && s.atEnd();
    const auto& remove = std::get<LinkDelete>(statement);
    if (!s.literal("deletefromvendoremployeecrossreferencewhereemployeeid=") ||
        !s.number(remove.employeeId) || !s.literal("andvendoridin("))
        return false;
    for (std::size_t i = 0; i < remove.vendorIds.size(); ++i)
        if ((i && !s.literal(",")) || !s.number(remove.vendorIds[i])) return false;
    return s.literal(")") && s.atEnd();
}

bool hasNegativeVendor(const LinkStatement& statement) {
    if (const auto* insert = std::get_if<LinkInsert>(&statement)) return insert->vendorId < 0;
    for (const auto id : std::get<LinkDelete>(statement).vendorIds)
        if (id < 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ParseResult parsed = parseLinkStatement(text);
    FUZZ_CHECK(parsed.ok == parsed.reason.empty());
    if (!parsed.ok) return 0;

    // Nothing outside the shapes' characters gets through: no quotes, semicolons, comments.
    for (const char c : text)
        FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ' ' ||
                   c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' || c == ',' ||
                   c == '=' || c == '-');
    FUZZ_CHECK(matchesShape(text, parsed.statement));
    FUZZ_CHECK(!hasNegativeVendor(parsed.statement));
    if (const auto* remove = std::get_if<LinkDelete>(&parsed.statement))
        FUZZ_CHECK(!remove->vendorIds.empty());

    // Rendered the way the control sends it, the statement reads back the same.
    const ParseResult again = parseLinkStatement(render(parsed.statement));
    FUZZ_CHECK(again.ok);
    FUZZ_CHECK(again.statement == parsed.statement);
    return 0;
}
