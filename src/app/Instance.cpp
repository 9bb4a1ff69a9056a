#include "app/Instance.h"

namespace linkmoot {

Instance::Instance(FrontEnd& frontEnd, ServiceBrowser* browser)
    : configuration(getApplicationName()),
      store(configuration),
      settingsView(configuration.getConfigRoot()),
      dialers(settingsView),
      app(settingsView, Services{network, systemClock, dialers, shutdown, &store, browser},
          frontEnd) {}

Instance::~Instance() = default;

}  // namespace linkmoot
