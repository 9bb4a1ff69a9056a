#include "app/Instance.h"

namespace linkmoot {

Instance::Instance(FrontEnd& frontEnd)
    : configuration(getApplicationName()),
      store(configuration),
      settingsView(configuration.getConfigRoot()),
      dialers(settingsView),
      app(settingsView, Services{network, clock, dialers, shutdown, &store}, frontEnd),
      webPage(app, settingsView, clock) {}

Instance::~Instance() = default;

}  // namespace linkmoot
