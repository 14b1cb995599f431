// reg.exe: looks at and changes the registry store from a shell or a script,
// with the arguments of Windows' reg:
//
//   reg.exe query  KEY [/v NAME | /ve] [/s]
//   reg.exe add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]
//   reg.exe delete KEY [/v NAME | /ve] [/f]
//
// KEY is ROOT\Sub\Key with ROOT one of HKCR, HKCU, HKLM, HKU, HKCC, HKPD or
// the long names (HKEY_LOCAL_MACHINE ...); "/" separates keys as well as "\".
// Output is UTF-8 and looks like Korean Windows' reg: a blank line, the key,
// then "    NAME    TYPE    DATA" per value, "(기본값)" naming the default
// value. Exit status 0 on success, 1 on any failure, with the reason on
// standard error.
#include "platform/Registry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace platform;

namespace {

const char *const kDefaultName = "(기본값)";

const char *const kUsage =
    "사용법:\n"
    "  reg.exe query  KEY [/v NAME | /ve] [/s]\n"
    "  reg.exe add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
    "  reg.exe delete KEY [/v NAME | /ve] [/f]\n"
    "KEY: ROOT\\Sub\\Key, ROOT = HKCR | HKCU | HKLM | HKU | HKCC | HKPD (또는 HKEY_LOCAL_MACHINE 등)\n";

struct Options {
    std::string operation;
    RegRoot root = RegRoot::HKLM;
    std::string rootText;
    std::string subKey;
    std::optional<std::string> valueName; // set by /v or /ve
    std::string type = "REG_SZ";
    std::optional<std::string> data;
    bool force = false;
    bool recurse = false;
};

int Fail(const std::string &message)
{
    std::fprintf(stderr, "오류: %s\n", message.c_str());
    return 1;
}

int SyntaxError(const std::string &message)
{
    std::fprintf(stderr, "오류: %s\n%s", message.c_str(), kUsage);
    return 1;
}

bool SameWord(const std::string &a, const char *b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// "/v" and "-v" alike, as reg takes both.
bool IsSwitch(const std::string &arg, const char *name)
{
    return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && SameWord(arg.substr(1), name);
}

// Splits ROOT\Sub\Key into the root and the rest.
bool ParseKey(const std::string &text, Options &options)
{
    const std::size_t cut = text.find_first_of("\\/");
    options.rootText = text.substr(0, cut);
    std::optional<RegRoot> root = ParseRegRoot(options.rootText);
    if (!root)
        return false;
    options.root = *root;
    options.subKey = cut == std::string::npos ? std::string() : text.substr(cut + 1);
    return true;
}

// The key as reg prints it: long root name, then the path as given.
std::string KeyTitle(RegRoot root, const std::string &subKey)
{
    std::string title = RegRootName(root);
    std::string path;
    for (char c : subKey)
        path.push_back(c == '/' ? '\\' : c);
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    if (!path.empty())
        title += "\\" + path;
    return title;
}

void PrintValue(const RegistryValue &value)
{
    const char *name = value.name.empty() ? kDefaultName : value.name.c_str();
    if (value.isDword)
        std::printf("    %s    REG_DWORD    0x%x\n", name, static_cast<unsigned>(value.dword));
    else
        std::printf("    %s    REG_SZ    %s\n", name, value.text.c_str());
}

std::optional<RegistryValue> FindValue(const RegistryKey &key, const std::string &name)
{
    for (RegistryValue &v : key.EnumValues()) {
        // EnumValues keeps the stored case; names compare without it.
        if (v.name.size() == name.size() && SameWord(v.name, name.c_str()))
            return std::move(v);
    }
    return std::nullopt;
}

void QueryKey(RegRoot root, const std::string &subKey, const RegistryKey &key, bool recurse)
{
    const std::string title = KeyTitle(root, subKey);
    std::printf("\n%s\n", title.c_str());
    for (const RegistryValue &v : key.EnumValues())
        PrintValue(v);
    const std::vector<std::string> children = key.EnumKeys();
    if (!recurse) {
        if (!children.empty())
            std::printf("\n");
        for (const std::string &child : children)
            std::printf("%s\\%s\n", title.c_str(), child.c_str());
        return;
    }
    for (const std::string &child : children) {
        const std::string childPath = subKey.empty() ? child : subKey + "\\" + child;
        RegistryKey sub;
        if (SUCCEEDED(RegistryKey::Open(root, childPath, sub)))
            QueryKey(root, childPath, sub, true);
    }
}

int Query(const Options &options)
{
    RegistryKey key;
    if (FAILED(RegistryKey::Open(options.root, options.subKey, key)))
        return Fail("지정한 레지스트리 키 또는 값을 찾을 수 없습니다.");
    if (options.valueName) {
        std::optional<RegistryValue> value = FindValue(key, *options.valueName);
        if (!value)
            return Fail("지정한 레지스트리 키 또는 값을 찾을 수 없습니다.");
        std::printf("\n%s\n", KeyTitle(options.root, options.subKey).c_str());
        PrintValue(*value);
        std::printf("\n");
        return 0;
    }
    QueryKey(options.root, options.subKey, key, options.recurse);
    std::printf("\n");
    return 0;
}

// Asks on standard input, as reg does without /f. Only an answer beginning
// with y or Y says yes; the end of the input says no.
bool Confirm(const std::string &question)
{
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer))
        answer.clear();
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// REG_DWORD data as reg reads it: decimal, or hexadecimal after "0x".
std::optional<DWORD> ParseDword(const std::string &text)
{
    if (text.empty())
        return DWORD(0);
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits[0] == '-' || digits[0] == '+' ||
        std::isspace(static_cast<unsigned char>(digits[0])))
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || errno != 0 || n > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<DWORD>(n);
}

int Add(const Options &options)
{
    const bool dword = SameWord(options.type, "REG_DWORD");
    if (!dword && !SameWord(options.type, "REG_SZ"))
        return Fail("지원하지 않는 값 형식입니다: " + options.type + " (REG_SZ 또는 REG_DWORD)");
    std::optional<DWORD> number;
    if (dword) {
        number = ParseDword(options.data.value_or(std::string()));
        if (!number)
            return Fail("REG_DWORD 값이 올바른 숫자가 아닙니다: " + *options.data);
    }
    RegistryKey key;
    if (options.valueName && !options.force) {
        RegistryKey existing;
        if (SUCCEEDED(RegistryKey::Open(options.root, options.subKey, existing)) &&
            FindValue(existing, *options.valueName)) {
            const std::string shown = options.valueName->empty() ? kDefaultName : *options.valueName;
            if (!Confirm("값 " + shown + "이(가) 이미 있습니다. 덮어쓰시겠습니까")) {
                std::printf("작업이 취소되었습니다.\n");
                return 1;
            }
        }
    }
    HRESULT hr = RegistryKey::Create(options.root, options.subKey, key);
    if (SUCCEEDED(hr) && options.valueName) {
        hr = dword ? key.WriteDword(*options.valueName, *number)
                   : key.WriteString(*options.valueName, options.data.value_or(std::string()));
    }
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
        return Fail("레지스트리 저장소(" + RegistryDirectory() + ")에 쓸 수 없습니다 (hr=" + code + ").");
    }
    std::printf("작업을 완료했습니다.\n");
    return 0;
}

int Delete(const Options &options)
{
    RegistryKey key;
    if (FAILED(RegistryKey::Open(options.root, options.subKey, key)))
        return Fail("지정한 레지스트리 키 또는 값을 찾을 수 없습니다.");
    const std::string title = KeyTitle(options.root, options.subKey);
    HRESULT hr;
    if (options.valueName) {
        const std::string shown = options.valueName->empty() ? kDefaultName : *options.valueName;
        if (!FindValue(key, *options.valueName))
            return Fail("지정한 레지스트리 키 또는 값을 찾을 수 없습니다.");
        if (!options.force && !Confirm("레지스트리 값 " + shown + "을(를) 삭제하시겠습니까")) {
            std::printf("작업이 취소되었습니다.\n");
            return 1;
        }
        hr = key.DeleteValue(*options.valueName);
    } else {
        if (options.subKey.find_first_not_of("\\/") == std::string::npos)
            return Fail("루트 키는 삭제할 수 없습니다.");
        if (!options.force && !Confirm("레지스트리 키 " + title + "을(를) 삭제하시겠습니까")) {
            std::printf("작업이 취소되었습니다.\n");
            return 1;
        }
        hr = RegistryKey::DeleteKey(options.root, options.subKey);
    }
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
        return Fail("삭제하지 못했습니다 (hr=" + std::string(code) + ").");
    }
    std::printf("작업을 완료했습니다.\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return SyntaxError("작업이 지정되지 않았습니다.");
    if (IsSwitch(args[0], "?") || IsSwitch(args[0], "h") || args[0] == "--help") {
        std::printf("%s", kUsage);
        return 0;
    }

    Options options;
    options.operation = args[0];
    const bool query = SameWord(options.operation, "query");
    const bool add = SameWord(options.operation, "add");
    const bool remove = SameWord(options.operation, "delete");
    if (!query && !add && !remove)
        return SyntaxError("알 수 없는 작업입니다: " + options.operation);
    if (args.size() < 2)
        return SyntaxError("키가 지정되지 않았습니다.");
    if (!ParseKey(args[1], options))
        return SyntaxError("잘못된 루트 키입니다: " + options.rootText);

    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto next = [&]() -> const std::string * { return i + 1 < args.size() ? &args[++i] : nullptr; };
        if (IsSwitch(arg, "v")) {
            if (options.valueName)
                return SyntaxError("/v 와 /ve 는 한 번만, 둘 중 하나만 쓸 수 있습니다.");
            const std::string *name = next();
            if (!name)
                return SyntaxError("/v 다음에 값 이름이 없습니다.");
            options.valueName = *name;
        } else if (IsSwitch(arg, "ve")) {
            if (options.valueName)
                return SyntaxError("/v 와 /ve 는 한 번만, 둘 중 하나만 쓸 수 있습니다.");
            options.valueName = std::string();
        } else if (IsSwitch(arg, "f") && !query) {
            options.force = true;
        } else if (IsSwitch(arg, "s") && query) {
            options.recurse = true;
        } else if (IsSwitch(arg, "t") && add) {
            const std::string *type = next();
            if (!type)
                return SyntaxError("/t 다음에 형식이 없습니다.");
            options.type = *type;
        } else if (IsSwitch(arg, "d") && add) {
            const std::string *data = next();
            if (!data)
                return SyntaxError("/d 다음에 데이터가 없습니다.");
            options.data = *data;
        } else {
            return SyntaxError("잘못된 인수입니다: " + arg);
        }
    }
    if (query && options.recurse && options.valueName)
        return SyntaxError("/s 는 /v, /ve 와 함께 쓸 수 없습니다.");

    if (query)
        return Query(options);
    if (add)
        return Add(options);
    return Delete(options);
}
