#include "statement_parser.h"

#include <charconv>
#include <limits>

namespace tavrolin::server {

namespace {

struct Token {
    enum class Kind { Word, Number, Symbol } kind;
    std::string_view text;
    std::size_t offset;
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

struct Tokens {
    std::vector<Token> list;
    std::string error;
};

// Splits the text into words, unsigned or minus-signed integers and the four symbols that the
// two shapes use. Quotes, semicolons, comment markers and every other character end the parse,
// so nothing can hide inside a token.
Tokens tokenize(std::string_view text) {
    Tokens result;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (isSpace(c)) {
            ++i;
        } else if (isLetter(c)) {
            const std::size_t start = i;
            while (i < text.size() && (isLetter(text[i]) || isDigit(text[i]))) ++i;
            result.list.push_back({Token::Kind::Word, text.substr(start, i - start), start});
        } else if (isDigit(c) || (c == '-' && i + 1 < text.size() && isDigit(text[i + 1]))) {
            const std::size_t start = i;
            ++i;
            while (i < text.size() && isDigit(text[i])) ++i;
            if (i < text.size() && isLetter(text[i])) {
                result.error = "letters glued to a number at offset " + std::to_string(i);
                return result;
            }
            result.list.push_back({Token::Kind::Number, text.substr(start, i - start), start});
        } else if (c == '(' || c == ')' || c == ',' || c == '=') {
            result.list.push_back({Token::Kind::Symbol, text.substr(i, 1), i});
            ++i;
        } else {
            result.error = "unexpected character at offset " + std::to_string(i);
            return result;
        }
    }
    return result;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

class Matcher {
  public:
    explicit Matcher(const std::vector<Token>& tokens) : mTokens(tokens) {}

    // Consumes the expected words and symbols, separated by spaces in `pattern`.
    bool expect(std::string_view pattern) {
        while (!pattern.empty()) {
            const auto space = pattern.find(' ');
            const auto piece = pattern.substr(0, space);
            pattern =
                space == std::string_view::npos ? std::string_view{} : pattern.substr(space + 1);
            if (mPos >= mTokens.size()) return fail("statement ends early");
            const Token& token = mTokens[mPos];
            if (token.kind == Token::Kind::Number || !equalsIgnoringCase(token.text, piece))
                return fail("expected \"" + std::string(piece) + "\" at offset " +
                            std::to_string(token.offset));
            ++mPos;
        }
        return true;
    }

    template <typename Integer>
    bool number(Integer& value, bool allowNegative) {
        if (mPos >= mTokens.size()) return fail("statement ends early");
        const Token& token = mTokens[mPos];
        if (token.kind != Token::Kind::Number)
            return fail("expected a number at offset " + std::to_string(token.offset));
        if (!allowNegative && token.text.front() == '-')
            return fail("negative vendor ID at offset " + std::to_string(token.offset));
        const char* end = token.text.data() + token.text.size();
        const auto [ptr, ec] = std::from_chars(token.text.data(), end, value);
        if (ec != std::errc() || ptr != end)
            return fail("number out of range at offset " + std::to_string(token.offset));
        ++mPos;
        return true;
    }

    bool peekSymbol(std::string_view symbol) const {
        return mPos < mTokens.size() && mTokens[mPos].kind == Token::Kind::Symbol &&
               mTokens[mPos].text == symbol;
    }

    bool atEnd() {
        if (mPos == mTokens.size()) return true;
        return fail("unexpected text after the statement at offset " +
                    std::to_string(mTokens[mPos].offset));
    }

    const std::string& reason() const { return mReason; }

  private:
    bool fail(std::string reason) {
        if (mReason.empty()) mReason = std::move(reason);
        return false;
    }

    const std::vector<Token>& mTokens;
    std::size_t mPos = 0;
    std::string mReason;
};

ParseResult refused(std::string reason) {
    ParseResult result;
    result.reason = std::move(reason);
    return result;
}

ParseResult accepted(LinkStatement statement) {
    ParseResult result;
    result.ok = true;
    result.statement = std::move(statement);
    return result;
}

}  // namespace

ParseResult parseLinkStatement(std::string_view text) {
    const Tokens tokens = tokenize(text);
    if (!tokens.error.empty()) return refused(tokens.error);
    if (tokens.list.empty()) return refused("empty statement");

    Matcher m(tokens.list);
    const auto& first = tokens.list.front();
    if (equalsIgnoringCase(first.text, "INSERT")) {
        LinkInsert insert{};
        if (m.expect("INSERT INTO VendorEmployeeCrossReference ( EmployeeID , VendorID , "
                     "RecordLastUpdated ) VALUES (") &&
            m.number(insert.employeeId, true) && m.expect(",") &&
            m.number(insert.vendorId, false) && m.expect(", GETDATE ( ) )") && m.atEnd())
            return accepted(insert);
        return refused(m.reason());
    }
    if (equalsIgnoringCase(first.text, "DELETE")) {
        LinkDelete remove{};
        if (!m.expect("DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID =") ||
            !m.number(remove.employeeId, true) || !m.expect("AND VendorID IN ("))
            return refused(m.reason());
        do {
            std::int64_t vendorId = 0;
            if (!m.number(vendorId, false)) return refused(m.reason());
            remove.vendorIds.push_back(vendorId);
        } while (m.peekSymbol(",") && m.expect(","));
        if (m.expect(")") && m.atEnd()) return accepted(std::move(remove));
        return refused(m.reason());
    }
    return refused("only INSERT and DELETE of vendor links are accepted");
}

}  // namespace tavrolin::server
