#include <platform/Registry.h>

#include <gtest/gtest.h>

using platform::RegType;
using platform::RegValue;
namespace regfile = platform::regfile;

namespace {

const regfile::Node* At(const regfile::Node& top, std::initializer_list<const char*> path) {
    const regfile::Node* node = &top;
    for (const char* name : path) {
        node = node ? node->Child(name) : nullptr;
    }
    return node;
}

} // namespace

TEST(RegistryFormat, ReadsEveryValueFormLfOrCrLf) {
    const std::string body = "REGEDIT4\n"
                             "\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Qorvell Electronics\\OrbManager]\n"
                             "@=\"default\"\n"
                             "\"OrbPath\"=\"C:\\\\Orb \\\"Manager\\\"\"\n"
                             "\"OrbRunCheck\"=dword:0000000A\n"
                             "\"Short\"=dword:ff\n"
                             "\"Blob\"=hex:01,02,\\\n"
                             "  0a,FF,\\\n"
                             "  00\n"
                             "\"Empty\"=hex:\n"
                             "; a comment\n"
                             "\n";
    std::string crlf;
    for (char c : body) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    for (const std::string& text : {body, crlf}) {
        regfile::Node top;
        std::string error;
        ASSERT_TRUE(regfile::Parse(text, "r.reg", top, error)) << error;
        const regfile::Node* key =
            At(top, {"HKEY_LOCAL_MACHINE", "Software", "Qorvell Electronics", "OrbManager"});
        ASSERT_NE(key, nullptr);
        ASSERT_EQ(key->values.size(), 6u);
        EXPECT_EQ(key->values[0], (RegValue{"", RegType::String, "default", 0, {}}));
        EXPECT_EQ(key->values[1].text, "C:\\Orb \"Manager\"");
        EXPECT_EQ(key->values[2], (RegValue{"OrbRunCheck", RegType::Dword, "", 10, {}}));
        EXPECT_EQ(key->values[3].dword, 0xffu);
        EXPECT_EQ(key->values[4].bytes, (std::vector<uint8_t>{1, 2, 0x0a, 0xff, 0}));
        EXPECT_EQ(key->values[5].type, RegType::Binary);
        EXPECT_TRUE(key->values[5].bytes.empty());
    }
}

TEST(RegistryFormat, WritesCrLfWrappedHexAndReadsItBack) {
    regfile::Node top;
    regfile::Node& key = top.EnsureChild("HKEY_LOCAL_MACHINE").EnsureChild("K");
    RegValue blob{"Blob", RegType::Binary, "", 0, {}};
    for (int i = 0; i < 300; ++i) {
        blob.bytes.push_back(static_cast<uint8_t>(i * 7));
    }
    key.SetValue(blob);
    key.SetValue({"", RegType::String, "quote \" and \\ back", 0, {}});
    key.SetValue({"N", RegType::Dword, "", 0xdeadbeef, {}});
    key.EnsureChild("Sub");

    const std::string text = regfile::Serialize(top);
    EXPECT_EQ(
        text.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n", 0),
        0u);
    EXPECT_NE(text.find("@=\"quote \\\" and \\\\ back\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"N\"=dword:deadbeef\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n[HKEY_LOCAL_MACHINE\\K\\Sub]\r\n\r\n"), std::string::npos);
    size_t lineStart = 0;
    int continued = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_GT(i, 0u);
            ASSERT_EQ(text[i - 1], '\r') << "bare LF at " << i;
            EXPECT_LE(i - 1 - lineStart, 80u);
            continued += text[i - 2] == '\\';
            lineStart = i + 1;
        }
    }
    EXPECT_GT(continued, 2);

    regfile::Node back;
    std::string error;
    ASSERT_TRUE(regfile::Parse(text, "r.reg", back, error)) << error;
    const regfile::Node* k = At(back, {"HKEY_LOCAL_MACHINE", "K"});
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->values, key.values);
    EXPECT_NE(k->Child("sub"), nullptr);
}

TEST(RegistryFormat, NamesMatchWithoutCaseAndKeepTheFirstSpelling) {
    const std::string text = "REGEDIT4\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\OrbManager]\r\n"
                             "\"UseAutoConnect\"=dword:00000000\r\n"
                             "[hkey_local_machine\\SOFTWARE\\orbmanager\\ConnEnv]\r\n"
                             "[HKEY_LOCAL_MACHINE\\software\\ORBMANAGER]\r\n"
                             "\"USEAUTOCONNECT\"=dword:00000001\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\OrbManager\\beta]\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\OrbManager\\Alpha]\r\n";
    regfile::Node top;
    std::string error;
    ASSERT_TRUE(regfile::Parse(text, "r.reg", top, error)) << error;
    ASSERT_EQ(top.children.size(), 1u);
    const regfile::Node* key = At(top, {"HKEY_LOCAL_MACHINE", "SOFTWARE", "OrbManager"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(top.children[0].name, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(top.children[0].children[0].name, "Software");
    ASSERT_EQ(key->values.size(), 1u);
    EXPECT_EQ(key->values[0].name, "UseAutoConnect");
    EXPECT_EQ(key->values[0].dword, 1u);
    ASSERT_EQ(key->children.size(), 3u);
    EXPECT_EQ(key->children[0].name, "Alpha");
    EXPECT_EQ(key->children[1].name, "beta");
    EXPECT_EQ(key->children[2].name, "ConnEnv");
}

TEST(RegistryFormat, MalformedTextNamesItsLine) {
    const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n";
    const struct {
        std::string text;
        int line;
    } cases[] = {
        {"REGEDIT5\n", 1},
        {"\n\nREGEDIT4\n\"a\"=\"b\"\n", 4},
        {head + "\"a\"=\"C:\\x\"\n", 4},
        {head + "\"a\"=\"open\n", 4},
        {head + "\"a\"=\"b\" trailing\n", 4},
        {head + "\"a\"=dword:123456789\n", 4},
        {head + "\"a\"=dword:12g4\n", 4},
        {head + "\"a\"=dword:\n", 4},
        {head + "\"a\"=hex:01,2x\n", 4},
        {head + "\"a\"=hex:01,,02\n", 4},
        {head + "\"a\"=hex:123\n", 4},
        {head + "\n\"b\"=hex:01,\\\n  02,\\\n", 5},
        {head + "\"a\"=hex(2):41,00\n", 4},
        {head + "\"a\"=-\n", 4},
        {head + "\"a\"\n", 4},
        {head + "a=\"b\"\n", 4},
        {head + "\"\"=\"b\"\n", 4},
        {head + "[HKEY_LOCAL_MACHINE\\\\K]\n", 4},
        {head + "[HKEY_LOCAL_MACHINE\\K\\]\n", 4},
        {head + "[Software\\K]\n", 4},
        {head + "[-HKEY_LOCAL_MACHINE\\K]\n", 4},
        {head + "[HKEY_LOCAL_MACHINE\\K\n", 4},
    };
    for (const auto& c : cases) {
        regfile::Node top;
        std::string error;
        EXPECT_FALSE(regfile::Parse(c.text, "registry.reg", top, error)) << c.text;
        EXPECT_EQ(error.rfind("registry.reg:" + std::to_string(c.line) + ": ", 0), 0u)
            << c.text << " -> " << error;
    }
}

TEST(RegistryFormat, KeysNestAtMostTheLimitAndDeeperFilesNameTheLine) {
    const auto deepFile = [](size_t depth, size_t line) {
        std::string text = "REGEDIT4\n";
        text.append(line - 2, '\n');
        text += "[HKEY_LOCAL_MACHINE";
        for (size_t i = 0; i < depth; ++i) {
            text += "\\k";
        }
        return text + "]\n\"v\"=dword:00000001\n";
    };
    regfile::Node top;
    std::string error;
    ASSERT_TRUE(regfile::Parse(deepFile(regfile::kMaxKeyDepth, 3), "r.reg", top, error)) << error;
    // Written back, the deepest key and its value survive; every level is its own section.
    const std::string written = regfile::Serialize(top);
    regfile::Node again;
    ASSERT_TRUE(regfile::Parse(written, "r.reg", again, error)) << error;
    const regfile::Node* node = again.Child("HKEY_LOCAL_MACHINE");
    for (size_t i = 0; node != nullptr && i < regfile::kMaxKeyDepth; ++i) {
        node = node->Child("k");
    }
    ASSERT_NE(node, nullptr);
    EXPECT_NE(node->Value("v"), nullptr);
    EXPECT_EQ(written, regfile::Serialize(again));

    // One level more, or tens of thousands (once a stack overflow), is refused with its line.
    for (const size_t depth : {regfile::kMaxKeyDepth + 1, size_t{47000}}) {
        regfile::Node refused;
        EXPECT_FALSE(regfile::Parse(deepFile(depth, 7), "r.reg", refused, error));
        EXPECT_EQ(error.rfind("r.reg:7: key nested deeper than 512 levels", 0), 0u) << error;
    }
    // Names: keys up to 255 bytes, value names up to 16383.
    const std::string key256 = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\n";
    EXPECT_FALSE(regfile::Parse(key256, "r.reg", top, error));
    const std::string value =
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"" + std::string(16384, 'v') + "\"=dword:00000001\n";
    EXPECT_FALSE(regfile::Parse(value, "r.reg", top, error));
    EXPECT_EQ(error.rfind("r.reg:3: ", 0), 0u) << error;
}
