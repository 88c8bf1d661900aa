// Test double: passes every registry call on to another back end and notes what was asked of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace autobackup {

class CountingRegistry : public Registry {
 public:
  struct Write {
    std::string name;
    RegType type;
    std::vector<uint8_t> data;
  };

  explicit CountingRegistry(Registry& inner) : inner_(inner) {}
  RegStatus CreateKey(RegKey base, const std::string& path, RegKey* result) override {
    ++creates;
    return inner_.CreateKey(base, path, result);
  }
  RegStatus OpenKey(RegKey base, const std::string& path, RegKey* result) override {
    ++opens;
    return inner_.OpenKey(base, path, result);
  }
  RegStatus QueryValue(RegKey key, const std::string& name, RegType* type, void* data,
                       uint32_t* size) override {
    ++(data == nullptr ? presence_queries : reads);
    queries.push_back(data == nullptr ? "has " + name
                                      : "read " + name + " into " + std::to_string(*size));
    return inner_.QueryValue(key, name, type, data, size);
  }
  RegStatus SetValue(RegKey key, const std::string& name, RegType type, const void* data,
                     uint32_t size) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    writes.push_back({name, type, std::vector<uint8_t>(bytes, bytes + size)});
    return inner_.SetValue(key, name, type, data, size);
  }
  RegStatus CloseKey(RegKey key) override {
    ++closes;
    return inner_.CloseKey(key);
  }
  void Reset() {
    creates = opens = presence_queries = reads = closes = 0;
    queries.clear();
    writes.clear();
  }

  int creates = 0, opens = 0, presence_queries = 0, reads = 0, closes = 0;
  std::vector<std::string> queries;  // every QueryValue, in order: a presence test or a read
  std::vector<Write> writes;         // every SetValue, in order

 private:
  Registry& inner_;
};

}  // namespace autobackup
