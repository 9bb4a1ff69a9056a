#include "app/Instance.h"

#include "platform/SodiumCrypto.h"

namespace linkmoot {

Instance::Instance(FrontEnd& frontEnd)
    : configuration(getApplicationName()),
      store(configuration),
      settingsView(configuration.getConfigRoot()),
      dialers(settingsView),
      app(settingsView,
          Services{network, clock, dialers, shutdown, &store, &sodiumCrypto(), &keyWorker,
                   &missingLibraries},
          frontEnd),
      webPage(app, settingsView, clock) {}

Instance::~Instance() = default;

}  // namespace linkmoot
