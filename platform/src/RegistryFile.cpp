#include <platform/Registry.h>

#include <algorithm>
#include <cstdio>

namespace platform::regfile {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kEol = "\r\n";
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int CompareNames(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(Lower(a[i]));
        const auto cb = static_cast<unsigned char>(Lower(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && NamesEqual(s.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

auto ChildPosition(std::vector<Node>& children, std::string_view name) {
    return std::lower_bound(
        children.begin(), children.end(), name,
        [](const Node& n, std::string_view k) { return CompareNames(n.name, k) < 0; });
}

// Reads a quoted text starting at s[i] == '"'; leaves i after the closing quote.
bool ParseQuoted(std::string_view s, size_t& i, std::string& out, std::string& why) {
    out.clear();
    for (++i; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
                why = "unknown escape in quoted text";
                return false;
            }
            out += s[++i];
        } else {
            out += c;
        }
    }
    why = "unterminated quoted text";
    return false;
}

bool ParseHexBytes(std::string_view data, std::vector<uint8_t>& out, std::string& why) {
    out.clear();
    data = Trim(data);
    if (data.empty()) {
        return true;
    }
    while (true) {
        const size_t comma = data.find(',');
        const std::string_view item = Trim(data.substr(0, comma));
        int value = 0;
        if (item.empty() || item.size() > 2) {
            why = "bad byte in hex data";
            return false;
        }
        for (char c : item) {
            const int d = HexDigit(c);
            if (d < 0) {
                why = "bad byte in hex data";
                return false;
            }
            value = value * 16 + d;
        }
        out.push_back(static_cast<uint8_t>(value));
        if (comma == std::string_view::npos) {
            return true;
        }
        data.remove_prefix(comma + 1);
    }
}

class Parser {
public:
    Parser(std::string_view text, const std::string& fileName, std::string& error)
        : text_(text), fileName_(fileName), error_(error) {}

    bool Run(Node& top, std::vector<Section>* sections) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            text_.remove_prefix(3);
        }
        bool seenHeader = false;
        Node* current = nullptr;
        std::string_view line;
        while (NextLine(line)) {
            line = Trim(line);
            if (line.empty()) {
                continue;
            }
            if (!seenHeader) {
                if (line != kHeader) {
                    return Fail(lineNo_, "not a REGEDIT4 file");
                }
                seenHeader = true;
                continue;
            }
            if (line.front() == ';') {
                continue;
            }
            if (line.front() == '[') {
                current = ParseSection(line, top, sections);
                if (current == nullptr) {
                    return false;
                }
                continue;
            }
            if (current == nullptr) {
                return Fail(lineNo_, "value outside of a key");
            }
            if (!ParseValue(line, *current)) {
                return false;
            }
        }
        return true;
    }

private:
    bool NextLine(std::string_view& line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) {
            end = text_.size();
        }
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        pos_ = end + 1;
        ++lineNo_;
        return true;
    }

    bool Fail(int line, std::string_view why) {
        error_ = fileName_ + ":" + std::to_string(line) + ": " + std::string(why);
        return false;
    }

    Node* ParseSection(std::string_view line, Node& top, std::vector<Section>* sections) {
        if (line.back() != ']' || line.size() < 3) {
            Fail(lineNo_, "bad key line");
            return nullptr;
        }
        const std::string_view inner = line.substr(1, line.size() - 2);
        if (inner.front() == '-') {
            Fail(lineNo_, "key deletions are not allowed here");
            return nullptr;
        }
        // Counted before splitting: a hostile line must not cost one string per level.
        if (static_cast<size_t>(std::count(inner.begin(), inner.end(), '\\')) > kMaxKeyDepth) {
            const std::string why =
                "key nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
            Fail(lineNo_, why);
            return nullptr;
        }
        std::vector<std::string> path;
        if (!SplitKeyPath(inner, path) || path.empty()) {
            Fail(lineNo_, "bad key path");
            return nullptr;
        }
        if (!StartsWithNoCase(path.front(), "HKEY_")) {
            Fail(lineNo_, "unknown root key");
            return nullptr;
        }
        Node* node = &top;
        for (const std::string& name : path) {
            node = &node->EnsureChild(name);
        }
        if (sections != nullptr) {
            sections->push_back({std::move(path), lineNo_});
        }
        return node;
    }

    bool ParseValue(std::string_view line, Node& key) {
        const int startLine = lineNo_;
        std::string why;
        RegValue value;
        size_t i = 0;
        if (line.front() == '@') {
            i = 1;
        } else if (line.front() == '"') {
            if (!ParseQuoted(line, i, value.name, why)) {
                return Fail(startLine, why);
            }
            if (value.name.empty()) {
                return Fail(startLine, "empty value name (the default value is written @)");
            }
        } else {
            return Fail(startLine, "expected a value name");
        }
        std::string_view rest = Trim(line.substr(i));
        if (rest.empty() || rest.front() != '=') {
            return Fail(startLine, "expected '=' after the value name");
        }
        rest = Trim(rest.substr(1));
        if (!rest.empty() && rest.front() == '"') {
            value.type = RegType::String;
            size_t j = 0;
            if (!ParseQuoted(rest, j, value.text, why)) {
                return Fail(startLine, why);
            }
            if (!Trim(rest.substr(j)).empty()) {
                return Fail(startLine, "text after the quoted data");
            }
        } else if (StartsWithNoCase(rest, "dword:")) {
            value.type = RegType::Dword;
            const std::string_view digits = Trim(rest.substr(6));
            if (digits.empty() || digits.size() > 8) {
                return Fail(startLine, "bad dword data");
            }
            for (char c : digits) {
                const int d = HexDigit(c);
                if (d < 0) {
                    return Fail(startLine, "bad dword data");
                }
                value.dword = value.dword * 16 + static_cast<uint32_t>(d);
            }
        } else if (StartsWithNoCase(rest, "hex:")) {
            value.type = RegType::Binary;
            std::string data(rest.substr(4));
            // regedit continues long byte lists with a trailing backslash.
            while (!Trim(data).empty() && Trim(data).back() == '\\') {
                data = std::string(Trim(data));
                data.pop_back();
                std::string_view next;
                if (!NextLine(next)) {
                    return Fail(startLine, "hex data continued past the end of the file");
                }
                data += Trim(next);
            }
            if (!ParseHexBytes(data, value.bytes, why)) {
                return Fail(startLine, why);
            }
        } else if (StartsWithNoCase(rest, "hex(")) {
            return Fail(startLine, "unsupported value type");
        } else {
            return Fail(startLine, "unknown value data");
        }
        if (!IsValidValueName(value.name)) {
            return Fail(startLine, "bad value name");
        }
        key.SetValue(std::move(value));
        return true;
    }

    std::string_view text_;
    const std::string& fileName_;
    std::string& error_;
    size_t pos_ = 0;
    int lineNo_ = 0;
};

void AppendQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

void AppendValue(std::string& out, const RegValue& v) {
    const size_t lineStart = out.size();
    if (v.name.empty()) {
        out += '@';
    } else {
        AppendQuoted(out, v.name);
    }
    out += '=';
    char buf[16];
    switch (v.type) {
    case RegType::String:
        AppendQuoted(out, v.text);
        break;
    case RegType::Dword:
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.dword));
        out += buf;
        break;
    case RegType::Binary: {
        out += "hex:";
        size_t column = out.size() - lineStart;
        for (size_t i = 0; i < v.bytes.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(v.bytes[i]));
            out += buf;
            column += 2;
            if (i + 1 < v.bytes.size()) {
                out += ',';
                ++column;
                if (column >= 76) {
                    out += "\\\r\n  ";
                    column = 2;
                }
            }
        }
        break;
    }
    }
    out += kEol;
}

// Depth-first with an explicit stack and one path buffer cut back on the way up, so that
// neither the stack nor the copies grow with the depth of the tree.
void AppendTree(std::string& out, const Node& root, std::string_view rootPath) {
    struct Frame {
        const Node* node;
        size_t next;       // index of the next child to write
        size_t pathLength; // length of `path` up to and including this node
    };
    std::string path(rootPath);
    std::vector<Frame> stack;
    const auto enter = [&](const Node& node) {
        out += '[';
        out += path;
        out += ']';
        out += kEol;
        for (const RegValue& v : node.values) {
            AppendValue(out, v);
        }
        out += kEol;
        stack.push_back({&node, 0, path.size()});
    };
    enter(root);
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.node->children.size()) {
            stack.pop_back();
            continue;
        }
        const Node& child = top.node->children[top.next++];
        path.resize(top.pathLength);
        path += '\\';
        path += child.name;
        enter(child);
    }
}

std::string Header() {
    std::string out(kHeader);
    out += kEol;
    out += kEol;
    return out;
}

} // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
    return CompareNames(a, b) == 0;
}

bool IsValidText(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool IsValidValueName(std::string_view name) {
    return name.size() <= kMaxValueName && IsValidText(name);
}

bool IsValidKeyName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxKeyName && name.find('\\') == std::string::npos &&
           IsValidText(name);
}

bool SplitKeyPath(std::string_view path, std::vector<std::string>& out) {
    out.clear();
    if (path.empty()) {
        return true;
    }
    if (static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) >= kMaxKeyDepth + 1) {
        return false;
    }
    while (true) {
        const size_t sep = path.find('\\');
        const std::string_view name = path.substr(0, sep);
        if (!IsValidKeyName(name)) {
            out.clear();
            return false;
        }
        out.emplace_back(name);
        if (sep == std::string_view::npos) {
            return true;
        }
        path.remove_prefix(sep + 1);
    }
}

Node* Node::Child(std::string_view childName) {
    auto it = ChildPosition(children, childName);
    return (it != children.end() && NamesEqual(it->name, childName)) ? &*it : nullptr;
}

const Node* Node::Child(std::string_view childName) const {
    return const_cast<Node*>(this)->Child(childName);
}

Node& Node::EnsureChild(std::string_view childName) {
    auto it = ChildPosition(children, childName);
    if (it != children.end() && NamesEqual(it->name, childName)) {
        return *it;
    }
    Node child;
    child.name = std::string(childName);
    return *children.insert(it, std::move(child));
}

bool Node::RemoveChild(std::string_view childName) {
    auto it = ChildPosition(children, childName);
    if (it == children.end() || !NamesEqual(it->name, childName)) {
        return false;
    }
    children.erase(it);
    return true;
}

const RegValue* Node::Value(std::string_view valueName) const {
    for (const RegValue& v : values) {
        if (NamesEqual(v.name, valueName)) {
            return &v;
        }
    }
    return nullptr;
}

void Node::SetValue(RegValue value) {
    for (RegValue& v : values) {
        if (NamesEqual(v.name, value.name)) {
            value.name = std::move(v.name); // the first spelling of a name stays
            v = std::move(value);
            return;
        }
    }
    values.push_back(std::move(value));
}

bool Node::RemoveValue(std::string_view valueName) {
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const RegValue& v) { return NamesEqual(v.name, valueName); });
    if (it == values.end()) {
        return false;
    }
    values.erase(it);
    return true;
}

bool Parse(std::string_view text, const std::string& fileName, Node& top, std::string& error,
           std::vector<Section>* sections) {
    return Parser(text, fileName, error).Run(top, sections);
}

std::string Serialize(const Node& top) {
    std::string out = Header();
    for (const Node& root : top.children) {
        if (!root.values.empty() || !root.children.empty()) {
            AppendTree(out, root, root.name);
        }
    }
    return out;
}

std::string SerializeKey(const Node& key, const std::vector<std::string>& path) {
    std::string joined;
    for (const std::string& name : path) {
        if (!joined.empty()) {
            joined += '\\';
        }
        joined += name;
    }
    std::string out = Header();
    AppendTree(out, key, joined);
    return out;
}

} // namespace platform::regfile
