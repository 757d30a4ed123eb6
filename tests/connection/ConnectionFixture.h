// A DeviceConnection over a link to the simulated imager (its link framing and
// command set) on an in-memory line.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "imager/ImagerCommands.h"
#include "imager/ImagerLink.h"
#include "devices/MemoryLine.h"
#include "connection/DeviceConnection.h"

namespace conntest {

struct Imager {
  Imager(sim::MemoryLine& line, vel::LinkKind kind, sim::ImagerIdentity identity,
         sim::ImagerConfigStore* store = nullptr)
      : link(line.imager(), kind == vel::LinkKind::Packet ? sim::Framing::Packet : sim::Framing::Direct, 0x13570000),
        commands(link, std::move(identity), store) {}
  ~Imager() { link.shutdown(); }
  sim::ImagerLink link;
  sim::ImagerCommands commands;
};

struct ConnectionTest : ::testing::TestWithParam<vel::LinkKind> {
  sim::MemoryLine line;
  std::unique_ptr<Imager> imager;
  std::unique_ptr<vel::DeviceConnection> connection;

  void connect(sim::ImagerIdentity identity = {}, vel::OperationSink* receiver = nullptr,
               sim::ImagerConfigStore* store = nullptr) {
    imager = std::make_unique<Imager>(line, GetParam(), std::move(identity), store);
    connection = std::make_unique<vel::DeviceConnection>(line.host(), receiver, GetParam());
    connection->setChannelTimeouts(2000);
  }
  void TearDown() override {
    connection.reset();
    imager.reset();
  }
};

inline std::string kindName(const ::testing::TestParamInfo<vel::LinkKind>& info) {
  return info.param == vel::LinkKind::Packet ? "Packet" : "Direct";
}

}  // namespace conntest
