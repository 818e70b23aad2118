#pragma once

#include "xbase/Dbf.h"

#include <memory>
#include <string>
#include <vector>

namespace tarvina::xbase {

// The xBase expressions that tags use: field names, DTOS(date field), `+` of
// character values, DELETED(), EMPTY(x), .NOT., .AND., .OR. and parentheses.
// Names and operators are matched without regard to case; the text itself is
// kept as given, since it is what the index file stores.
class Expression {
public:
    struct Node;

    // Throws XBaseError(Invalid) for a malformed text or an unknown field and
    // XBaseError(Unsupported) for a construct outside the subset.
    static Expression Parse(const std::string& text, const std::vector<FieldDef>& fields);

    Expression();
    ~Expression();
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    const std::string& Text() const { return text_; }
    bool IsLogical() const;
    // Length of a character result.
    int Length() const;
    // `record` is a whole record, flag byte first.
    void EvalText(const char* record, char* out) const;
    bool EvalBool(const char* record) const;
    // Whether the expression is false for every record marked deleted, from
    // its form (a `.NOT. DELETED()` that every true result passes through).
    bool ExcludesDeleted() const;

private:
    std::string text_;
    std::unique_ptr<Node> root_;
};

} // namespace tarvina::xbase
