#include "xbase/Expression.h"

#include "xbase/Error.h"

#include <cctype>
#include <cstring>

namespace tarvina::xbase {

struct Expression::Node {
    enum Kind { Field, Dtos, Concat, Deleted, Empty, Not, And, Or } kind;
    bool logical = false;
    int length = 0;     // character result length
    int offset = 0;     // Field/Dtos: offset in the record
    char fieldType = 0; // Field/Dtos
    std::unique_ptr<Node> a, b;
};

namespace {

using Node = Expression::Node;

struct Token {
    enum Kind { Name, LParen, RParen, Plus, Bang, DotNot, DotAnd, DotOr, End } kind;
    std::string text;
};

class Parser {
public:
    Parser(const std::string& text, const std::vector<FieldDef>& fields)
        : text_(text), fields_(fields) {
        Tokenize();
    }

    std::unique_ptr<Node> ParseAll() {
        auto n = ParseOr();
        if (Peek().kind != Token::End)
            Bad("unexpected text");
        return n;
    }

private:
    [[noreturn]] void Bad(const std::string& why) {
        Fail(XBaseError::Code::Invalid, "invalid expression \"" + text_ + "\": " + why);
    }

    void Tokenize() {
        std::size_t i = 0;
        const std::size_t n = text_.size();
        while (i < n) {
            unsigned char c = static_cast<unsigned char>(text_[i]);
            if (std::isspace(c)) {
                ++i;
            } else if (std::isalpha(c) || c == '_') {
                std::size_t j = i;
                while (j < n &&
                       (std::isalnum(static_cast<unsigned char>(text_[j])) || text_[j] == '_'))
                    ++j;
                tokens_.push_back({Token::Name, UpperAscii(text_.substr(i, j - i))});
                i = j;
            } else if (c == '(') {
                tokens_.push_back({Token::LParen, "("});
                ++i;
            } else if (c == ')') {
                tokens_.push_back({Token::RParen, ")"});
                ++i;
            } else if (c == '+') {
                tokens_.push_back({Token::Plus, "+"});
                ++i;
            } else if (c == '!') {
                tokens_.push_back({Token::Bang, "!"});
                ++i;
            } else if (c == '.') {
                std::size_t j = text_.find('.', i + 1);
                if (j == std::string::npos)
                    Bad("unterminated operator");
                std::string op = UpperAscii(text_.substr(i, j - i + 1));
                if (op == ".NOT.")
                    tokens_.push_back({Token::DotNot, op});
                else if (op == ".AND.")
                    tokens_.push_back({Token::DotAnd, op});
                else if (op == ".OR.")
                    tokens_.push_back({Token::DotOr, op});
                else
                    Fail(XBaseError::Code::Unsupported,
                         "operator not supported in \"" + text_ + "\": " + op);
                i = j + 1;
            } else {
                Fail(XBaseError::Code::Unsupported, "expression not supported: \"" + text_ + "\"");
            }
            if (tokens_.size() > 256)
                Bad("too long");
        }
        tokens_.push_back({Token::End, ""});
    }

    const Token& Peek() const { return tokens_[pos_]; }
    Token Take() {
        Token t = tokens_[pos_];
        if (t.kind != Token::End)
            ++pos_;
        return t;
    }
    void Expect(Token::Kind k, const char* what) {
        if (Take().kind != k)
            Bad(std::string("expected ") + what);
    }

    static std::unique_ptr<Node> Make(Node::Kind k, bool logical) {
        auto n = std::make_unique<Node>();
        n->kind = k;
        n->logical = logical;
        return n;
    }

    void NeedLogical(const Node& n) {
        if (!n.logical)
            Bad("a logical value is needed");
    }

    std::unique_ptr<Node> ParseOr() {
        auto left = ParseAnd();
        while (Peek().kind == Token::DotOr) {
            Take();
            auto right = ParseAnd();
            NeedLogical(*left);
            NeedLogical(*right);
            auto n = Make(Node::Or, true);
            n->a = std::move(left);
            n->b = std::move(right);
            left = std::move(n);
        }
        return left;
    }

    std::unique_ptr<Node> ParseAnd() {
        auto left = ParseNot();
        while (Peek().kind == Token::DotAnd) {
            Take();
            auto right = ParseNot();
            NeedLogical(*left);
            NeedLogical(*right);
            auto n = Make(Node::And, true);
            n->a = std::move(left);
            n->b = std::move(right);
            left = std::move(n);
        }
        return left;
    }

    std::unique_ptr<Node> ParseNot() {
        if (Peek().kind == Token::DotNot || Peek().kind == Token::Bang) {
            Take();
            if (++depth_ > 64)
                Bad("nested too deeply");
            auto inner = ParseNot();
            --depth_;
            NeedLogical(*inner);
            auto n = Make(Node::Not, true);
            n->a = std::move(inner);
            return n;
        }
        return ParseSum();
    }

    std::unique_ptr<Node> ParseSum() {
        auto left = ParseTerm();
        while (Peek().kind == Token::Plus) {
            Take();
            auto right = ParseTerm();
            if (left->logical || right->logical)
                Bad("'+' joins character values only");
            auto n = Make(Node::Concat, false);
            n->length = left->length + right->length;
            n->a = std::move(left);
            n->b = std::move(right);
            left = std::move(n);
        }
        return left;
    }

    const FieldDef& FieldNamed(const std::string& name) {
        for (const FieldDef& f : fields_)
            if (EqualsNoCase(f.name, name))
                return f;
        Fail(XBaseError::Code::NotFound,
             "field not found in expression \"" + text_ + "\": " + name);
    }

    std::unique_ptr<Node> FieldNode(const std::string& name) {
        const FieldDef& f = FieldNamed(name);
        auto n = Make(Node::Field, false);
        n->offset = f.offset;
        n->length = f.width;
        n->fieldType = f.type;
        return n;
    }

    std::unique_ptr<Node> ParseTerm() {
        Token t = Take();
        if (t.kind == Token::LParen) {
            if (++depth_ > 64)
                Bad("nested too deeply");
            auto n = ParseOr();
            --depth_;
            Expect(Token::RParen, "')'");
            return n;
        }
        if (t.kind != Token::Name)
            Bad("a name is needed");
        if (Peek().kind != Token::LParen) {
            auto n = FieldNode(t.text);
            if (n->fieldType != 'C')
                Fail(XBaseError::Code::Unsupported,
                     "only character fields can be used directly in \"" + text_ + "\"");
            return n;
        }
        Take();
        if (t.text == "DELETED") {
            Expect(Token::RParen, "')'");
            return Make(Node::Deleted, true);
        }
        if (t.text == "DTOS") {
            Token f = Take();
            if (f.kind != Token::Name)
                Bad("DTOS needs a date field");
            auto field = FieldNode(f.text);
            if (field->fieldType != 'D')
                Bad("DTOS needs a date field");
            Expect(Token::RParen, "')'");
            field->kind = Node::Dtos;
            field->length = 8;
            return field;
        }
        if (t.text == "EMPTY") {
            std::unique_ptr<Node> inner;
            if (Peek().kind == Token::Name && tokens_[pos_ + 1].kind == Token::RParen) {
                inner = FieldNode(Take().text); // any field type
            } else {
                inner = ParseSum();
                if (inner->logical)
                    Bad("EMPTY needs a value");
            }
            Expect(Token::RParen, "')'");
            auto n = Make(Node::Empty, true);
            n->a = std::move(inner);
            return n;
        }
        Fail(XBaseError::Code::Unsupported,
             "function not supported in \"" + text_ + "\": " + t.text);
    }

    const std::string& text_;
    const std::vector<FieldDef>& fields_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

char* EvalInto(const Node& n, const char* record, char* out) {
    switch (n.kind) {
    case Node::Field:
    case Node::Dtos:
        // A date field holds "YYYYMMDD", or blanks when null: DTOS is the bytes.
        std::memcpy(out, record + n.offset, static_cast<std::size_t>(n.length));
        return out + n.length;
    case Node::Concat:
        return EvalInto(*n.b, record, EvalInto(*n.a, record, out));
    default:
        return out;
    }
}

bool IsEmptyValue(const Node& n, const char* record) {
    if (n.kind == Node::Field && n.fieldType == 'N') {
        for (int i = 0; i < n.length; ++i) {
            char c = record[n.offset + i];
            if (c != ' ' && c != '0' && c != '.' && c != '-' && c != '+')
                return false;
        }
        return true;
    }
    if (n.kind == Node::Field) {
        for (int i = 0; i < n.length; ++i)
            if (record[n.offset + i] != ' ')
                return false;
        return true;
    }
    std::string buf(static_cast<std::size_t>(n.length), ' ');
    EvalInto(n, record, buf.data());
    return buf.find_first_not_of(' ') == std::string::npos;
}

bool EvalLogical(const Node& n, const char* record) {
    switch (n.kind) {
    case Node::Deleted:
        return record[0] == kDbfDeleted;
    case Node::Empty:
        return IsEmptyValue(*n.a, record);
    case Node::Not:
        return !EvalLogical(*n.a, record);
    case Node::And:
        return EvalLogical(*n.a, record) && EvalLogical(*n.b, record);
    case Node::Or:
        return EvalLogical(*n.a, record) || EvalLogical(*n.b, record);
    default:
        return false;
    }
}

bool FalseWhenDeleted(const Node& n) {
    switch (n.kind) {
    case Node::Not:
        return n.a->kind == Node::Deleted;
    case Node::And:
        return FalseWhenDeleted(*n.a) || FalseWhenDeleted(*n.b);
    case Node::Or:
        return FalseWhenDeleted(*n.a) && FalseWhenDeleted(*n.b);
    default:
        return false;
    }
}

} // namespace

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

Expression Expression::Parse(const std::string& text, const std::vector<FieldDef>& fields) {
    if (text.size() > 255)
        Fail(XBaseError::Code::Invalid, "expression too long");
    Expression e;
    e.text_ = text;
    Parser p(text, fields);
    e.root_ = p.ParseAll();
    return e;
}

bool Expression::IsLogical() const {
    return root_ && root_->logical;
}
int Expression::Length() const {
    return root_ && !root_->logical ? root_->length : 0;
}

void Expression::EvalText(const char* record, char* out) const {
    if (root_ && !root_->logical)
        EvalInto(*root_, record, out);
}

bool Expression::EvalBool(const char* record) const {
    return root_ && root_->logical && EvalLogical(*root_, record);
}

bool Expression::ExcludesDeleted() const {
    return root_ && root_->logical && FalseWhenDeleted(*root_);
}

} // namespace tarvina::xbase
