// The native settings store: one JSON file, by default ~/.config/kzbdka/registry.json, or
// the file named by KZB_REGISTRY_FILE. Layout:
//
//   { "HKEY_LOCAL_MACHINE": { "SOFTWARE\\Corvanta\\KZBDKA": {
//       "RecorderAddress":   { "type": "REG_SZ", "data": "10.0.0.5" },
//       "Servers":           { "type": "REG_MULTI_SZ", "data": ["a", "b"] },
//       "LogLevel":          { "type": "REG_DWORD", "data": 4 },
//       "Blob":              { "type": "REG_BINARY", "data": "00ff10" } } },
//     "HKEY_CURRENT_USER": { ... } }
//
// Key paths and value names match without regard to letter case, as in the registry.
#include "RegistryStore.h"

#include "Log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace kzb::registry {

namespace {

using nlohmann::json;

struct OpenedKey
{
    Root root;
    std::string path;
    Access access;
};

std::mutex g_fileMutex;

std::filesystem::path StoreFile()
{
    if (const char* file = std::getenv("KZB_REGISTRY_FILE"); file && *file)
        return file;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::filesystem::path(config) / "kzbdka" / "registry.json";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : ".") / ".config" / "kzbdka" / "registry.json";
}

json Load()
{
    std::ifstream in(StoreFile());
    if (!in)
        return json::object();
    json store = json::parse(in, nullptr, false);
    return store.is_object() ? store : json::object();
}

bool Save(const json& store)
{
    const std::filesystem::path file = StoreFile();
    std::error_code error;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), error);
    const std::filesystem::path temporary = file.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (!out)
            return false;
        out << store.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
        if (!out)
            return false;
    }
    std::filesystem::rename(temporary, file, error);
    return !error;
}

const char* HiveName(Root root)
{
    return root == Root::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The member of object whose name equals name without regard to case, or end() (also when
// a damaged file has something else where an object belongs).
json::iterator FindNoCase(json& object, const std::string& name)
{
    if (!object.is_object())
        return object.end();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (EqualNoCase(it.key(), name))
            return it;
    }
    return object.end();
}

bool KeyExists(json& store, Root root, const std::string& path)
{
    auto hive = store.find(HiveName(root));
    if (hive == store.end() || !hive->is_object())
        return false;
    const std::string prefix = path + "\\";
    for (auto it = hive->begin(); it != hive->end(); ++it) {
        const std::string& key = it.key();
        if (EqualNoCase(key, path) || (key.size() > prefix.size() && EqualNoCase(key.substr(0, prefix.size()), prefix)))
            return true;
    }
    return false;
}

const char* TypeName(std::uint32_t type)
{
    switch (type) {
    case TypeString: return "REG_SZ";
    case TypeExpandString: return "REG_EXPAND_SZ";
    case TypeBinary: return "REG_BINARY";
    case TypeNumber: return "REG_DWORD";
    case TypeMultiString: return "REG_MULTI_SZ";
    default: return "REG_NONE";
    }
}

std::uint32_t TypeOf(const std::string& name)
{
    for (std::uint32_t type : {TypeString, TypeExpandString, TypeBinary, TypeNumber, TypeMultiString}) {
        if (name == TypeName(type))
            return type;
    }
    return TypeNone;
}

// The registry's byte image of a stored value.
std::vector<std::uint8_t> ImageOf(std::uint32_t type, const json& data)
{
    std::vector<std::uint8_t> image;
    auto appendText = [&image](const std::string& text) {
        image.insert(image.end(), text.begin(), text.end());
        image.push_back(0);
    };
    if ((type == TypeString || type == TypeExpandString) && data.is_string()) {
        appendText(data.get<std::string>());
    } else if (type == TypeMultiString && data.is_array()) {
        for (const json& text : data)
            appendText(text.is_string() ? text.get<std::string>() : std::string());
        image.push_back(0);
    } else if (type == TypeNumber && data.is_number_integer()) {
        const auto value = data.get<std::uint32_t>();
        for (int shift = 0; shift < 32; shift += 8)
            image.push_back(static_cast<std::uint8_t>(value >> shift));
    } else if (type == TypeBinary && data.is_string()) {
        const std::string hex = data.get<std::string>();
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            image.push_back(static_cast<std::uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return image;
}

json DataOf(std::uint32_t type, const std::vector<std::uint8_t>& image)
{
    if (type == TypeString || type == TypeExpandString)
        return std::string(image.begin(), std::find(image.begin(), image.end(), 0));
    if (type == TypeMultiString) {
        json texts = json::array();
        auto begin = image.begin();
        while (begin != image.end() && *begin != 0) {
            auto end = std::find(begin, image.end(), 0);
            texts.push_back(std::string(begin, end));
            begin = end == image.end() ? end : end + 1;
        }
        return texts;
    }
    if (type == TypeNumber && image.size() == 4)
        return static_cast<std::uint32_t>(image[0]) | static_cast<std::uint32_t>(image[1]) << 8 |
               static_cast<std::uint32_t>(image[2]) << 16 | static_cast<std::uint32_t>(image[3]) << 24;
    std::string hex;
    char pair[3];
    for (std::uint8_t byte : image) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

// The object a hive or key of a write must be. A damaged file may hold something else there,
// which holds no values: it is replaced, with a line, rather than failing every write.
json& WritableObject(json& member, const char* what, const std::string& name)
{
    if (!member.is_object()) {
        if (!member.is_null())
            AGENT_LOG(kzb::log::Warning, "Settings file '%s': %s '%s' is not a key; replaced by an empty one",
                    StoreFile().string().c_str(), what, name.c_str());
        member = json::object();
    }
    return member;
}

OpenedKey* Opened(KeyHandle key)
{
    return reinterpret_cast<OpenedKey*>(key);
}

} // namespace

long OpenKey(Root root, const std::string& path, Access access, KeyHandle& key)
{
    std::lock_guard<std::mutex> guard(g_fileMutex);
    json store = Load();
    if (!KeyExists(store, root, path))
        return FileNotFound;
    key = reinterpret_cast<KeyHandle>(new OpenedKey{root, path, access});
    return Success;
}

long CreateKey(Root root, const std::string& path, Access access, KeyHandle& key)
{
    std::lock_guard<std::mutex> guard(g_fileMutex);
    json store = Load();
    if (!KeyExists(store, root, path)) {
        WritableObject(store[HiveName(root)], "hive", HiveName(root))[path] = json::object();
        if (!Save(store))
            return AccessDenied;
    }
    key = reinterpret_cast<KeyHandle>(new OpenedKey{root, path, access});
    return Success;
}

void CloseKey(KeyHandle key)
{
    delete Opened(key);
}

long QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, std::vector<std::uint8_t>& data)
{
    const OpenedKey* opened = Opened(key);
    if (opened == nullptr)
        return InvalidHandle;
    if (opened->access == Access::Write)
        return AccessDenied;
    std::lock_guard<std::mutex> guard(g_fileMutex);
    json store = Load();
    auto hive = store.find(HiveName(opened->root));
    if (hive == store.end() || !hive->is_object())
        return FileNotFound;
    auto values = FindNoCase(*hive, opened->path);
    if (values == hive->end() || !values->is_object())
        return FileNotFound;
    auto value = FindNoCase(*values, name);
    if (value == values->end() || !value->is_object())
        return FileNotFound;
    const auto typeName = value->find("type");
    type = typeName != value->end() && typeName->is_string() ? TypeOf(typeName->get<std::string>()) : TypeNone;
    const auto stored = value->find("data");
    data = stored != value->end() ? ImageOf(type, *stored) : std::vector<std::uint8_t>{};
    return Success;
}

long SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    const OpenedKey* opened = Opened(key);
    if (opened == nullptr)
        return InvalidHandle;
    if (opened->access == Access::Read)
        return AccessDenied;
    std::lock_guard<std::mutex> guard(g_fileMutex);
    json store = Load();
    json& hive = WritableObject(store[HiveName(opened->root)], "hive", HiveName(opened->root));
    auto values = FindNoCase(hive, opened->path);
    json& target = WritableObject(values != hive.end() ? *values : hive[opened->path], "key", opened->path);
    auto existing = FindNoCase(target, name);
    if (existing != target.end())
        target.erase(existing);
    target[name] = json{{"type", TypeName(type)}, {"data", DataOf(type, data)}};
    return Save(store) ? Success : AccessDenied;
}

long DeleteValue(KeyHandle key, const std::string& name)
{
    const OpenedKey* opened = Opened(key);
    if (opened == nullptr)
        return InvalidHandle;
    if (opened->access == Access::Read)
        return AccessDenied;
    std::lock_guard<std::mutex> guard(g_fileMutex);
    json store = Load();
    auto hive = store.find(HiveName(opened->root));
    if (hive == store.end())
        return FileNotFound;
    auto values = FindNoCase(*hive, opened->path);
    if (values == hive->end())
        return FileNotFound;
    auto existing = FindNoCase(*values, name);
    if (existing == values->end())
        return FileNotFound;
    values->erase(existing);
    return Save(store) ? Success : AccessDenied;
}

} // namespace kzb::registry
