// A minimal ZIP archive writer for tests: stored entries with the fields a test wants,
// also wrong ones (a CRC off by one, ZIP64 fields, extra fields), so that readers can be
// tried on archives no archiver would make.
#pragma once

#include <cstdint>
#include <string>

namespace zorvex::testing {

class ZipBytes {
 public:
  struct Options {
    uint16_t made_by = 0x031E;  // Unix
    uint16_t flags = 0;
    uint32_t external = 0100644u << 16;
    std::string extra;
    bool zip64_fields = false;  // sizes and offset as 0xFFFFFFFF with a ZIP64 field
    int32_t crc_delta = 0;
    uint32_t declared_size = 0;  // the uncompressed size the headers give, when not 0
    std::string local_name;      // the local header's name, when it is to differ
  };
  void Add(const std::string& name, const std::string& data, const Options& o) {
    uint32_t crc = Crc(data);
    crc += static_cast<uint32_t>(o.crc_delta);
    uint64_t offset = bytes_.size();
    Put32(&bytes_, 0x04034b50);
    Put16(&bytes_, 20), Put16(&bytes_, o.flags), Put16(&bytes_, 0), Put32(&bytes_, 0);
    const uint32_t declared = o.declared_size ? o.declared_size : data.size();
    Put32(&bytes_, crc), Put32(&bytes_, data.size()), Put32(&bytes_, declared);
    const std::string& local = o.local_name.empty() ? name : o.local_name;
    Put16(&bytes_, local.size()), Put16(&bytes_, 0);
    bytes_ += local + data;
    std::string extra = o.extra;
    if (o.zip64_fields) {
      std::string z;
      Put64(&z, data.size()), Put64(&z, data.size()), Put64(&z, offset);
      Put16(&extra, 1), Put16(&extra, z.size());
      extra += z;
    }
    std::string& c = central_;
    Put32(&c, 0x02014b50);
    Put16(&c, o.made_by), Put16(&c, 20), Put16(&c, o.flags), Put16(&c, 0), Put32(&c, 0);
    Put32(&c, crc);
    uint32_t size32 = o.zip64_fields ? 0xFFFFFFFF : static_cast<uint32_t>(data.size());
    Put32(&c, size32), Put32(&c, o.zip64_fields ? 0xFFFFFFFF : declared);
    Put16(&c, name.size()), Put16(&c, extra.size()), Put16(&c, 0), Put16(&c, 0), Put16(&c, 0);
    Put32(&c, o.external), Put32(&c, o.zip64_fields ? 0xFFFFFFFF : static_cast<uint32_t>(offset));
    c += name + extra;
    ++count_;
    last_central_ = c.substr(c.size() - (46 + name.size() + extra.size()));
    last_name_size_ = name.size();
  }
  // A second directory entry for the data of the last one: two entries that overlap.
  void DuplicateLast(const std::string& name) {
    std::string c = last_central_.substr(0, 46);
    c[28] = static_cast<char>(name.size()), c[29] = static_cast<char>(name.size() >> 8);
    c += name + last_central_.substr(46 + last_name_size_);
    central_ += c;
    ++count_;
  }
  // The archive; with `zip64_end`, a ZIP64 end record and locator carry the counts.
  std::string Finish(bool zip64_end = false) {
    std::string out = bytes_ + central_;
    uint64_t cd_offset = bytes_.size();
    if (zip64_end) {
      uint64_t z = out.size();
      Put32(&out, 0x06064b50), Put64(&out, 44), Put16(&out, 45), Put16(&out, 45);
      Put32(&out, 0), Put32(&out, 0), Put64(&out, count_), Put64(&out, count_);
      Put64(&out, central_.size()), Put64(&out, cd_offset);
      Put32(&out, 0x07064b50), Put32(&out, 0), Put64(&out, z), Put32(&out, 1);
    }
    Put32(&out, 0x06054b50), Put16(&out, 0), Put16(&out, 0);
    uint16_t n = zip64_end ? 0xFFFF : static_cast<uint16_t>(count_);
    Put16(&out, n), Put16(&out, n);
    Put32(&out, zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(central_.size()));
    Put32(&out, zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(cd_offset));
    Put16(&out, 0);
    return out;
  }

 private:
  static uint32_t Crc(const std::string& data) {
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : data) {
      crc ^= c;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
  }
  static void Put16(std::string* s, uint64_t v) {
    s->push_back(static_cast<char>(v)), s->push_back(static_cast<char>(v >> 8));
  }
  static void Put32(std::string* s, uint64_t v) { Put16(s, v), Put16(s, v >> 16); }
  static void Put64(std::string* s, uint64_t v) { Put32(s, v), Put32(s, v >> 32); }
  std::string bytes_, central_, last_central_;
  size_t last_name_size_ = 0;
  uint64_t count_ = 0;
};

}  // namespace zorvex::testing
