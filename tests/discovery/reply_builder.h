// Builds module replies byte by byte for the discovery tests.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/datagrams.h"

namespace tl::test {

struct ModuleReply {
  std::string name = "Unit";
  std::string app = "App";  // the second text
  MacAddress interfaceMac{0x00, 0x50, 0xC2, 0x00, 0x00, 0x01};
  MacAddress deviceMac{};
  std::uint8_t kind = 0;
  std::uint32_t staticAddress = 0;
  bool marker = false;
  std::uint32_t currentAddress = 0;

  ModuleReply& Mac(std::uint8_t b4, std::uint8_t b5) {
    interfaceMac[4] = b4;
    interfaceMac[5] = b5;
    return *this;
  }
  ModuleReply& Device(std::uint8_t b5) {
    deviceMac = {0x00, 0x50, 0xC2, 0xFF, 0x00, b5};
    return *this;
  }

  InfoBlock Block() const {
    InfoBlock b{};
    b[3] = 148;
    auto put32 = [&b](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put32(info::kStaticAddress, staticAddress);
    for (std::size_t i = 0; i < 6; ++i) {
      b[info::kInterfaceMac + i] = interfaceMac[i];
      b[info::kDeviceMac + i] = deviceMac[i];
    }
    b[info::kInterfaceKind] = kind;
    b[info::kAddressMarker] = marker ? 0xAA : 0x00;
    put32(info::kCurrentAddress, currentAddress);
    return b;
  }

  // The whole datagram: magic, type, block, name NUL, second text NUL.
  std::string Bytes() const {
    std::string d = "OMBR";
    d += 'Q';
    InfoBlock b = Block();
    d.append(reinterpret_cast<const char*>(b.data()), b.size());
    d += name;
    d += '\0';
    d += app;
    d += '\0';
    return d;
  }

  Reply Decoded(std::uint32_t from) const {
    Reply r;
    r.nameText = name;
    r.appText = app.empty() || app == "Unknown" ? std::string() : ":" + app;
    r.sourceAddress = from;
    r.infoBlock = Block();
    return r;
  }
};

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

}  // namespace tl::test
