#include "app/Instance.h"

namespace linkmoot {

Instance::Instance(FrontEnd& frontEnd)
    : configuration(getApplicationName()),
      store(configuration),
      settingsView(configuration.getConfigRoot()),
      dialers(settingsView),
      app(settingsView, Services{network, systemClock, dialers, shutdown, &store}, frontEnd) {}

Instance::~Instance() = default;

}  // namespace linkmoot
