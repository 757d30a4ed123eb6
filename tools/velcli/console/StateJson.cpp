#include "StateJson.h"

#include "../Text.h"

namespace velcli::console {

nlohmann::json stateJson(const ImagerFacts& f, int port, bool simulated, int communicationStatus) {
  return {{"connected", communicationStatus == 1},
          {"port", port},
          {"simulated", simulated},
          {"communicationStatus", communicationStatus},
          {"versions",
           {{"host", latin1ToUtf8(f.hostVersion)},
            {"firmware", latin1ToUtf8(f.firmware)},
            {"visionProcessor", hex(f.visionProcessor)},
            {"imageSensor", hex(f.imageSensor)},
            {"illuminationBoard", hex(f.illuminationBoard)}}},
          {"processor", latin1ToUtf8(f.processor)},
          {"sensor", latin1ToUtf8(f.sensor)},
          {"colour", f.colour},
          {"linkLevel", latin1ToUtf8(f.linkLevel)},
          {"usbReady", nullptr}};
}

}  // namespace velcli::console
