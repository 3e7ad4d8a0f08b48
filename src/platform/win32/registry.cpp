#include <cstring>

#include "platform/win32/win32.h"

namespace zorvex::platform {

namespace {

bool OpenKey(const std::string& key, REGSAM access, ScopedKey* k) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access, k->out()) == ERROR_SUCCESS;
}

Registry::ReadResult Query(const std::string& key, const std::string& name, DWORD* type,
                           std::string* data) {
  ScopedKey k;
  if (!OpenKey(key, KEY_QUERY_VALUE, &k)) return Registry::ReadResult::kNoKey;
  DWORD size = 0;
  if (RegQueryValueExA(k.get(), name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS) {
    return Registry::ReadResult::kNoValue;
  }
  data->assign(size, '\0');
  if (RegQueryValueExA(k.get(), name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(data->data()),
                       &size) != ERROR_SUCCESS) {
    return Registry::ReadResult::kNoValue;
  }
  data->resize(size);
  return Registry::ReadResult::kOk;
}

std::string Parent(const std::string& key, std::string* leaf) {
  size_t cut = key.find_last_of('\\');
  if (cut == std::string::npos) {
    *leaf = key;
    return "";
  }
  *leaf = key.substr(cut + 1);
  return key.substr(0, cut);
}

}  // namespace

Registry::ReadResult Win32Registry::ReadValue(const std::string& key, const std::string& name,
                                              std::string* value) {
  DWORD type = 0;
  ReadResult r = Query(key, name, &type, value);
  if (r == ReadResult::kOk) {
    if (size_t nul = value->find('\0'); nul != std::string::npos) value->resize(nul);
  }
  return r;
}

bool Win32Registry::KeyExists(const std::string& key) {
  ScopedKey k;
  return OpenKey(key, KEY_QUERY_VALUE, &k);
}

Registry::ReadResult Win32Registry::ReadDword(const std::string& key, const std::string& name,
                                              uint32_t* value) {
  DWORD type = 0;
  std::string data;
  ReadResult r = Query(key, name, &type, &data);
  if (r != ReadResult::kOk) return r;
  if (data.size() > sizeof(DWORD)) return ReadResult::kTooLarge;
  DWORD v = 0;
  memcpy(&v, data.data(), data.size());
  *value = v;
  return ReadResult::kOk;
}

bool Win32Registry::OpenForWrite(const std::string& key) {
  ScopedKey k;
  return OpenKey(key, KEY_ALL_ACCESS, &k);
}

bool Win32Registry::SetStringValue(const std::string& key, const std::string& name,
                                   const std::string& value) {
  ScopedKey k;
  if (!OpenKey(key, KEY_ALL_ACCESS, &k)) return false;
  // The size counts the terminating NUL, as REG_SZ values are stored.
  return RegSetValueExA(k.get(), name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool Win32Registry::DeleteValue(const std::string& key, const std::string& name) {
  ScopedKey k;
  if (!OpenKey(key, KEY_ALL_ACCESS, &k)) return false;
  return RegDeleteValueA(k.get(), name.c_str()) == ERROR_SUCCESS;
}

bool Win32Registry::CreateKey(const std::string& key, const std::string& class_name) {
  std::string leaf;
  std::string parent = Parent(key, &leaf);
  ScopedKey p;
  if (!OpenKey(parent, KEY_ALL_ACCESS, &p)) return false;
  ScopedKey created;
  std::string cls = class_name;
  return RegCreateKeyExA(p.get(), leaf.c_str(), 0, cls.data(), REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, created.out(), nullptr) == ERROR_SUCCESS;
}

bool Win32Registry::DeleteKey(const std::string& key) {
  std::string leaf;
  std::string parent = Parent(key, &leaf);
  ScopedKey p;
  if (!OpenKey(parent, KEY_ALL_ACCESS, &p)) return false;
  return RegDeleteKeyA(p.get(), leaf.c_str()) == ERROR_SUCCESS;
}

}  // namespace zorvex::platform
