#include "platform/AvahiDnsSd.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/watch.h>
#include <dlfcn.h>
#include <sys/time.h>

#include <algorithm>

#include "ToolBox/Logger.h"

// Avahi's poll interface leaves these two to whoever implements it.
struct AvahiWatch {
    linkmoot::AvahiDnsSd::Poll* owner = nullptr;
    int fd = -1;
    AvahiWatchEvent wanted = static_cast<AvahiWatchEvent>(0);
    AvahiWatchEvent happened = static_cast<AvahiWatchEvent>(0);
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    bool dead = false;
    std::optional<linkmoot::EventSource::TimerId> writable;  // while it waits to write
};

struct AvahiTimeout {
    linkmoot::AvahiDnsSd::Poll* owner = nullptr;
    std::optional<linkmoot::EventSource::TimerId> timer;
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
};

namespace linkmoot {

namespace {

constexpr const char* kClientLibrary = "libavahi-client.so.3";
constexpr const char* kCommonLibrary = "libavahi-common.so.3";
/// A daemon that failed the client is asked again after this long.
constexpr int kReconnectMs = 5000;
/// How often a watch that waits to write is offered the chance: the loop
/// watches for reading only, and a full D-Bus socket is rare and short.
constexpr int kWritePollMs = 10;

}  // namespace

// --- The library, loaded while wanted

struct AvahiDnsSd::Library {
    void* clientHandle = nullptr;
    void* commonHandle = nullptr;
// clang-format off
#define LM_AVAHI_FUNCTIONS(X) \
    X(avahi_client_new) \
    X(avahi_client_free) \
    X(avahi_client_errno) \
    X(avahi_entry_group_new) \
    X(avahi_entry_group_free) \
    X(avahi_entry_group_commit) \
    X(avahi_entry_group_reset) \
    X(avahi_entry_group_add_service_strlst) \
    X(avahi_service_browser_new) \
    X(avahi_service_browser_free) \
    X(avahi_service_resolver_new) \
    X(avahi_service_resolver_free) \
    X(avahi_strerror) \
    X(avahi_alternative_service_name) \
    X(avahi_free) \
    X(avahi_string_list_new_from_array) \
    X(avahi_string_list_free)
    // clang-format on
#define LM_AVAHI_MEMBER(name) decltype(&::name) name = nullptr;
    LM_AVAHI_FUNCTIONS(LM_AVAHI_MEMBER)
#undef LM_AVAHI_MEMBER

    // Never unmapped once opened (RTLD_NODELETE): the bus library the client
    // brings keeps global state that would dangle (and show as leaks) after.
    static std::unique_ptr<Library> load(std::string& error) {
        auto library = std::make_unique<Library>();
        library->commonHandle = dlopen(kCommonLibrary, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        library->clientHandle = library->commonHandle != nullptr
                                    ? dlopen(kClientLibrary, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)
                                    : nullptr;
        if (library->clientHandle == nullptr) {
            const char* why = dlerror();
            error = why != nullptr ? why : "cannot be loaded";
            return nullptr;
        }
#define LM_AVAHI_LOAD(name)                                                      \
    library->name = reinterpret_cast<decltype(&::name)>(library->symbol(#name)); \
    if (library->name == nullptr) {                                              \
        error = std::string(#name) + " is missing";                              \
        return nullptr;                                                          \
    }
        LM_AVAHI_FUNCTIONS(LM_AVAHI_LOAD)
#undef LM_AVAHI_LOAD
        return library;
    }

    void* symbol(const char* name) const {
        void* found = dlsym(clientHandle, name);
        return found != nullptr ? found : dlsym(commonHandle, name);
    }

    ~Library() {
        if (clientHandle != nullptr)
            dlclose(clientHandle);
        if (commonHandle != nullptr)
            dlclose(commonHandle);
    }
#undef LM_AVAHI_FUNCTIONS
};

// --- Avahi's poll interface on the program's loop

struct AvahiDnsSd::Poll {
    explicit Poll(EventSource& events) : events(events) {
        api.userdata = this;
        api.watch_new = &Poll::watchNew;
        api.watch_update = &Poll::watchUpdate;
        api.watch_get_events = [](AvahiWatch* watch) { return watch->happened; };
        api.watch_free = &Poll::watchFree;
        api.timeout_new = &Poll::timeoutNew;
        api.timeout_update = &Poll::timeoutUpdate;
        api.timeout_free = &Poll::timeoutFree;
    }
    ~Poll() {
        for (auto& [fd, list] : watches) {
            events.unwatch(fd);
            for (AvahiWatch* watch : list) {
                if (watch->writable)
                    events.cancelTimer(*watch->writable);
                delete watch;
            }
        }
        buried.clear();
    }
    Poll(const Poll&) = delete;
    Poll& operator=(const Poll&) = delete;

    static Poll& of(const AvahiPoll* api) { return *static_cast<Poll*>(api->userdata); }

    static AvahiWatch* watchNew(const AvahiPoll* api, int fd, AvahiWatchEvent event,
                                AvahiWatchCallback callback, void* userdata) {
        Poll& poll = of(api);
        auto* watch = new AvahiWatch;
        watch->owner = &poll;
        watch->fd = fd;
        watch->callback = callback;
        watch->userdata = userdata;
        poll.watches[fd].push_back(watch);
        watchUpdate(watch, event);
        return watch;
    }

    static void watchUpdate(AvahiWatch* watch, AvahiWatchEvent event) {
        Poll& poll = *watch->owner;
        watch->wanted = event;
        poll.followReading(watch->fd);
        const bool wantsWrite = (event & AVAHI_WATCH_OUT) != 0;
        if (wantsWrite && !watch->writable) {
            poll.offerWrite(watch);
        } else if (!wantsWrite && watch->writable) {
            poll.events.cancelTimer(*watch->writable);
            watch->writable.reset();
        }
    }

    static void watchFree(AvahiWatch* watch) {
        Poll& poll = *watch->owner;
        if (watch->writable)
            poll.events.cancelTimer(*watch->writable);
        watch->dead = true;
        std::vector<AvahiWatch*>& list = poll.watches[watch->fd];
        list.erase(std::remove(list.begin(), list.end(), watch), list.end());
        const int fd = watch->fd;
        // Freed from inside a callback that may still run over the list.
        poll.buried.emplace_back(watch);
        if (list.empty()) {
            poll.watches.erase(fd);
            poll.events.unwatch(fd);
        } else {
            poll.followReading(fd);
        }
    }

    void followReading(int fd) {
        const auto found = watches.find(fd);
        const bool reading =
            found != watches.end() &&
            std::any_of(found->second.begin(), found->second.end(), [](const AvahiWatch* watch) {
                return (watch->wanted & (AVAHI_WATCH_IN | AVAHI_WATCH_HUP | AVAHI_WATCH_ERR)) != 0;
            });
        if (reading)
            events.watch(fd, [this, fd] { readable(fd); });
        else
            events.unwatch(fd);
    }

    void readable(int fd) {
        const auto found = watches.find(fd);
        if (found == watches.end())
            return;
        const std::vector<AvahiWatch*> list = found->second;
        for (AvahiWatch* watch : list) {
            if (watch->dead || (watch->wanted & AVAHI_WATCH_IN) == 0)
                continue;
            watch->happened = AVAHI_WATCH_IN;
            watch->callback(watch, fd, AVAHI_WATCH_IN, watch->userdata);
            if (!watch->dead)
                watch->happened = static_cast<AvahiWatchEvent>(0);
        }
        buried.clear();
    }

    void offerWrite(AvahiWatch* watch) {
        watch->writable = events.startTimer(kWritePollMs, [this, watch] {
            watch->writable.reset();
            watch->happened = AVAHI_WATCH_OUT;
            watch->callback(watch, watch->fd, AVAHI_WATCH_OUT, watch->userdata);
            if (!watch->dead) {
                watch->happened = static_cast<AvahiWatchEvent>(0);
                if ((watch->wanted & AVAHI_WATCH_OUT) != 0 && !watch->writable)
                    offerWrite(watch);
            }
            buried.clear();
        });
    }

    static int delayUntil(const struct timeval* when) {
        timeval now{};
        gettimeofday(&now, nullptr);
        const int64_t micros = (static_cast<int64_t>(when->tv_sec) - now.tv_sec) * 1000000 +
                               (static_cast<int64_t>(when->tv_usec) - now.tv_usec);
        return micros <= 0 ? 0
                           : static_cast<int>(std::min<int64_t>((micros + 999) / 1000, 1 << 30));
    }

    static AvahiTimeout* timeoutNew(const AvahiPoll* api, const struct timeval* when,
                                    AvahiTimeoutCallback callback, void* userdata) {
        auto* timeout = new AvahiTimeout;
        timeout->owner = &of(api);
        timeout->callback = callback;
        timeout->userdata = userdata;
        timeoutUpdate(timeout, when);
        return timeout;
    }

    static void timeoutUpdate(AvahiTimeout* timeout, const struct timeval* when) {
        Poll& poll = *timeout->owner;
        if (timeout->timer)
            poll.events.cancelTimer(*timeout->timer);
        timeout->timer.reset();
        if (when == nullptr)
            return;
        timeout->timer = poll.events.startTimer(delayUntil(when), [timeout] {
            timeout->timer.reset();
            Poll* owner = timeout->owner;
            // The callback may free the timeout: nothing of it is used after.
            timeout->callback(timeout, timeout->userdata);
            owner->buried.clear();
        });
    }

    static void timeoutFree(AvahiTimeout* timeout) {
        if (timeout->timer)
            timeout->owner->events.cancelTimer(*timeout->timer);
        delete timeout;
    }

    EventSource& events;
    AvahiPoll api{};
    std::map<int, std::vector<AvahiWatch*>> watches;
    std::vector<std::unique_ptr<AvahiWatch>> buried;
};

// --- The callbacks of the client, the entry group, the browser, the resolvers

struct AvahiDnsSd::Callbacks {
    static void client(AvahiClient* client, AvahiClientState state, void* userdata) {
        auto& self = *static_cast<AvahiDnsSd*>(userdata);
        // Called from inside avahi_client_new already, before it returns.
        self.client = client;
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING:
                self.clientRunning();
                break;
            case AVAHI_CLIENT_S_COLLISION:
            case AVAHI_CLIENT_S_REGISTERING:
                // The host name is being settled: announce again once it is.
                if (self.group != nullptr)
                    self.library->avahi_entry_group_reset(
                        static_cast<AvahiEntryGroup*>(self.group));
                self.published.reset();
                break;
            case AVAHI_CLIENT_CONNECTING:
                self.clientLost();
                self.sayOnce(
                    "No Avahi daemon runs: waiting for one to announce or browse (DNS-SD)");
                break;
            case AVAHI_CLIENT_FAILURE:
                self.clientLost();
                self.sayOnce(
                    std::string("DNS-SD failed: ") +
                    self.library->avahi_strerror(self.library->avahi_client_errno(client)));
                // Not from inside the client's own callback.
                self.scheduleReconnect(0);
                break;
        }
    }

    static void group(AvahiEntryGroup* /*group*/, AvahiEntryGroupState state, void* userdata) {
        auto& self = *static_cast<AvahiDnsSd*>(userdata);
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                LM_LOG(Info, "Announced on the LAN as '%s'", self.currentName.c_str());
                break;
            case AVAHI_ENTRY_GROUP_COLLISION: {
                char* other =
                    self.library->avahi_alternative_service_name(self.currentName.c_str());
                LM_LOG(Info, "The name '%s' is taken on the LAN: announcing as '%s'",
                       self.currentName.c_str(), other);
                self.currentName = other;
                self.library->avahi_free(other);
                self.published.reset();
                self.publish();
                break;
            }
            case AVAHI_ENTRY_GROUP_FAILURE:
                LM_LOG(Warn, "The announcement failed: %s",
                       self.library->avahi_strerror(self.library->avahi_client_errno(
                           static_cast<AvahiClient*>(self.client))));
                break;
            case AVAHI_ENTRY_GROUP_UNCOMMITED:
            case AVAHI_ENTRY_GROUP_REGISTERING:
                break;
        }
    }

    static void browsed(AvahiServiceBrowser* /*browser*/, AvahiIfIndex interface,
                        AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                        const char* type, const char* domain, AvahiLookupResultFlags /*flags*/,
                        void* userdata) {
        auto& self = *static_cast<AvahiDnsSd*>(userdata);
        const std::string key = name != nullptr ? std::to_string(interface) + "/" + name : "";
        switch (event) {
            case AVAHI_BROWSER_NEW: {
                if (self.found.count(key) != 0)
                    break;
                void* resolver = self.library->avahi_service_resolver_new(
                    static_cast<AvahiClient*>(self.client), interface, protocol, name, type, domain,
                    AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0), &Callbacks::resolved,
                    userdata);
                if (resolver != nullptr)
                    self.found[key].resolver = resolver;
                break;
            }
            case AVAHI_BROWSER_REMOVE: {
                const auto entry = self.found.find(key);
                if (entry == self.found.end())
                    break;
                if (entry->second.resolver != nullptr) {
                    self.library->avahi_service_resolver_free(
                        static_cast<AvahiServiceResolver*>(entry->second.resolver));
                }
                self.found.erase(entry);
                break;
            }
            case AVAHI_BROWSER_FAILURE:
                LM_LOG(Info, "Browsing for servers (DNS-SD) failed: %s",
                       self.library->avahi_strerror(self.library->avahi_client_errno(
                           static_cast<AvahiClient*>(self.client))));
                break;
            case AVAHI_BROWSER_ALL_FOR_NOW:
            case AVAHI_BROWSER_CACHE_EXHAUSTED:
                break;
        }
    }

    static void resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                         AvahiProtocol /*protocol*/, AvahiResolverEvent event, const char* name,
                         const char* /*type*/, const char* /*domain*/, const char* hostName,
                         const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                         AvahiLookupResultFlags /*flags*/, void* userdata) {
        auto& self = *static_cast<AvahiDnsSd*>(userdata);
        const auto entry = self.found.find(std::to_string(interface) + "/" + name);
        if (entry == self.found.end() || entry->second.resolver != resolver)
            return;
        if (event != AVAHI_RESOLVER_FOUND || address == nullptr ||
            address->proto != AVAHI_PROTO_INET) {
            // Resolved again when the service changes; until then unknown.
            entry->second.service.reset();
            return;
        }
        AnnouncedServer service;
        service.instance = name;
        service.host = hostName != nullptr ? hostName : "";
        service.host = service.host.substr(0, service.host.find('.'));
        service.address = ntohl(address->data.ipv4.address);
        service.port = port;
        for (AvahiStringList* item = txt; item != nullptr; item = item->next) {
            const std::string text(reinterpret_cast<const char*>(item->text), item->size);
            const std::size_t equals = text.find('=');
            if (equals != std::string::npos && equals > 0)
                service.txt[text.substr(0, equals)] = text.substr(equals + 1);
        }
        entry->second.service = std::move(service);
    }
};

// --- The object

AvahiDnsSd::AvahiDnsSd(EventSource& events) : events(events) {}

AvahiDnsSd::~AvahiDnsSd() {
    if (reconnect)
        events.cancelTimer(*reconnect);
    disconnect();
}

void AvahiDnsSd::announce(const std::optional<ServiceAnnouncement>& what) {
    if (what == wish)
        return;
    wish = what;
    if (!wish)
        currentName.clear();
    follow();
    if (running)
        publish();
}

void AvahiDnsSd::browse(bool on) {
    if (on == browsing)
        return;
    browsing = on;
    if (!on)
        stopBrowser();
    follow();
    if (running && on)
        startBrowser();
}

std::vector<AnnouncedServer> AvahiDnsSd::announced() const {
    std::vector<AnnouncedServer> list;
    for (const auto& [key, entry] : found) {
        if (!entry.service)
            continue;
        // One service seen on two interfaces is one server.
        const bool seen = std::any_of(list.begin(), list.end(), [&](const AnnouncedServer& known) {
            return known.address == entry.service->address && known.port == entry.service->port;
        });
        if (!seen)
            list.push_back(*entry.service);
    }
    return list;
}

void AvahiDnsSd::follow() {
    if (wanted() && client == nullptr && !reconnect)
        connect();
    else if (!wanted() && client != nullptr)
        disconnect();
    if (!wanted() && reconnect) {
        events.cancelTimer(*reconnect);
        reconnect.reset();
        disconnect();
    }
}

void AvahiDnsSd::connect() {
    if (!library) {
        std::string error;
        library = Library::load(error);
        if (!library) {
            sayOnce("No DNS-SD: " + std::string(kClientLibrary) + " cannot be loaded (" + error +
                    ")");
            return;
        }
    }
    if (!poll)
        poll = std::make_unique<Poll>(events);
    int error = 0;
    // Without a daemon the client waits for one (and follows it when it
    // restarts) instead of failing.
    AvahiClient* created = library->avahi_client_new(&poll->api, AVAHI_CLIENT_NO_FAIL,
                                                     &Callbacks::client, this, &error);
    if (created == nullptr) {
        client = nullptr;
        sayOnce(std::string("No DNS-SD: the Avahi daemon cannot be reached (") +
                library->avahi_strerror(error) + ")");
        scheduleReconnect(kReconnectMs * 6);
        return;
    }
    client = created;
}

void AvahiDnsSd::disconnect() {
    if (client != nullptr && library) {
        // Frees its entry group, browser and resolvers too; the daemon then
        // withdraws what was announced.
        library->avahi_client_free(static_cast<AvahiClient*>(client));
    }
    client = nullptr;
    group = nullptr;
    browser = nullptr;
    found.clear();
    published.reset();
    running = false;
    poll.reset();
    // The library stays: libdbus, which it brought, may still call into it
    // after a connection is closed, and a process that used it once is
    // likely to again. It goes with the object.
}

void AvahiDnsSd::clientRunning() {
    running = true;
    lastSaid.clear();
    publish();
    if (browsing)
        startBrowser();
}

void AvahiDnsSd::clientLost() {
    // The daemon's objects are gone with it; made again when it is back.
    running = false;
    auto* library = this->library.get();
    if (group != nullptr)
        library->avahi_entry_group_free(static_cast<AvahiEntryGroup*>(group));
    group = nullptr;
    stopBrowser();
    published.reset();
}

void AvahiDnsSd::scheduleReconnect(int delayMs) {
    if (reconnect)
        events.cancelTimer(*reconnect);
    reconnect = events.startTimer(delayMs, [this, delayMs] {
        reconnect.reset();
        if (delayMs == 0) {
            // A failed client is dropped first, then asked for again later.
            disconnect();
            scheduleReconnect(kReconnectMs);
            return;
        }
        follow();
        if (running) {
            publish();
            if (browsing)
                startBrowser();
        }
    });
}

void AvahiDnsSd::publish() {
    if (!running)
        return;
    auto* avahiGroup = static_cast<AvahiEntryGroup*>(group);
    if (!wish) {
        if (avahiGroup != nullptr)
            library->avahi_entry_group_reset(avahiGroup);
        published.reset();
        return;
    }
    if (published == wish && avahiGroup != nullptr)
        return;
    if (avahiGroup == nullptr) {
        avahiGroup = library->avahi_entry_group_new(static_cast<AvahiClient*>(client),
                                                    &Callbacks::group, this);
        if (avahiGroup == nullptr) {
            LM_LOG(Warn, "Cannot announce the server: %s",
                   library->avahi_strerror(
                       library->avahi_client_errno(static_cast<AvahiClient*>(client))));
            return;
        }
        group = avahiGroup;
    } else {
        library->avahi_entry_group_reset(avahiGroup);
    }
    if (currentName.empty() || !published || published->instance != wish->instance)
        currentName = wish->instance;
    published = wish;
    if (wish->interfaces.empty()) {
        LM_LOG(Info, "Not announced: no interface carries an address of the allowed networks");
        return;
    }
    std::vector<const char*> txt;
    for (const std::string& field : wish->txt)
        txt.push_back(field.c_str());
    const char* webTxt[] = {"path=/"};
    AvahiStringList* serviceTxt =
        library->avahi_string_list_new_from_array(txt.data(), static_cast<int>(txt.size()));
    AvahiStringList* pageTxt = library->avahi_string_list_new_from_array(webTxt, 1);
    // A name another service holds already: the next alternative, up to ten.
    for (int attempt = 0; attempt < 10; attempt++) {
        int result = 0;
        for (unsigned index : wish->interfaces) {
            const auto interface = static_cast<AvahiIfIndex>(index);
            result = library->avahi_entry_group_add_service_strlst(
                avahiGroup, interface, AVAHI_PROTO_INET, static_cast<AvahiPublishFlags>(0),
                currentName.c_str(), kServiceType, nullptr, nullptr, wish->port, serviceTxt);
            if (result == 0 && wish->webPort) {
                result = library->avahi_entry_group_add_service_strlst(
                    avahiGroup, interface, AVAHI_PROTO_INET, static_cast<AvahiPublishFlags>(0),
                    currentName.c_str(), "_http._tcp", nullptr, nullptr, *wish->webPort, pageTxt);
            }
            if (result < 0)
                break;
        }
        if (result == AVAHI_ERR_COLLISION) {
            char* other = library->avahi_alternative_service_name(currentName.c_str());
            currentName = other;
            library->avahi_free(other);
            library->avahi_entry_group_reset(avahiGroup);
            continue;
        }
        if (result < 0) {
            LM_LOG(Warn, "Cannot announce the server: %s", library->avahi_strerror(result));
        } else if (const int committed = library->avahi_entry_group_commit(avahiGroup);
                   committed < 0) {
            LM_LOG(Warn, "Cannot announce the server: %s", library->avahi_strerror(committed));
        }
        break;
    }
    library->avahi_string_list_free(serviceTxt);
    library->avahi_string_list_free(pageTxt);
}

void AvahiDnsSd::startBrowser() {
    if (!running || browser != nullptr)
        return;
    browser = library->avahi_service_browser_new(
        static_cast<AvahiClient*>(client), AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, kServiceType, nullptr,
        static_cast<AvahiLookupFlags>(0), &Callbacks::browsed, this);
    if (browser == nullptr) {
        LM_LOG(Info, "Cannot browse for servers (DNS-SD): %s",
               library->avahi_strerror(
                   library->avahi_client_errno(static_cast<AvahiClient*>(client))));
    }
}

void AvahiDnsSd::stopBrowser() {
    if (library) {
        for (auto& [key, entry] : found) {
            if (entry.resolver != nullptr) {
                library->avahi_service_resolver_free(
                    static_cast<AvahiServiceResolver*>(entry.resolver));
            }
        }
        if (browser != nullptr)
            library->avahi_service_browser_free(static_cast<AvahiServiceBrowser*>(browser));
    }
    found.clear();
    browser = nullptr;
}

void AvahiDnsSd::sayOnce(const std::string& line) {
    if (line == lastSaid)
        return;
    lastSaid = line;
    LM_LOG(Info, "%s", line.c_str());
}

}  // namespace linkmoot
