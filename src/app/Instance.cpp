#include "app/Instance.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "ToolBox/Directory.h"
#include "ToolBox/Memory.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {

namespace {

/// The database beside the configuration, or where the environment says.
std::string usageDatabasePath(const mfctriext::TriExtApp& configuration) {
    std::unique_ptr<toolbox::Directory> folder(configuration.getDataDirectory());
    char* native = folder->toNative();
    const std::string configurationFolder = native;
    toolbox::release(native);
    folder->appendProgramFileName("db");
    const std::string file = folder->getLastElement()->getName();
    return SqliteUsageStorage::defaultPath(file.substr(0, file.size() - 3), configurationFolder);
}

/// The test-only write interval of the crash test (milliseconds), else a minute.
uint32_t usageWriteInterval() {
    const char* value = getenv("LINKMOOT_TEST_USAGE_WRITE_MS");
    const long milliseconds = value != nullptr ? std::strtol(value, nullptr, 10) : 0;
    return milliseconds > 0 ? static_cast<uint32_t>(milliseconds) : 60000;
}

Services servicesOf(Network& network, Clock& clock, DialServiceProvider& dialers,
                    ShutdownService& shutdown, ConfigurationStore* store,
                    InterfaceCounters& counters, LocalTime& localTime, UsageStorage* usage,
                    ServiceBrowser* browser) {
    Services services{network, clock, dialers, shutdown, store};
    services.counters = &counters;
    services.localTime = &localTime;
    services.usage = usage;
    services.usageWriteIntervalMs = usageWriteInterval();
    services.browser = browser;
    services.crypto = &sodiumCrypto();
    return services;
}

}  // namespace

Instance::Instance(FrontEnd& frontEnd, SqliteUsageStorage::Deliver toLoop, ServiceBrowser* browser,
                   EventSource* events)
    : configuration(getApplicationName()),
      store(configuration),
      settingsView(configuration.getConfigRoot()),
      network(events),
      dialers(settingsView),
      usage(std::make_unique<SqliteUsageStorage>(usageDatabasePath(configuration),
                                                 std::move(toLoop))),
      app(settingsView,
          withWorkers(servicesOf(network, systemClock, dialers, shutdown, &store, counters,
                                 localTime, usage.get(), browser)),
          frontEnd) {}

Services Instance::withWorkers(Services services) {
    services.worker = &keyWorker;
    services.missing = &missingLibraries;
    return services;
}

Instance::~Instance() = default;

}  // namespace linkmoot
