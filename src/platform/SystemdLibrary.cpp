#include "platform/SystemdLibrary.h"

#include <errno.h>
#include <systemd/sd-bus.h>

#include <cstdarg>

#include "platform/SharedLibrary.h"

namespace linkmoot {

namespace {

#define LINKMOOT_SYSTEMD_FUNCTIONS(F)   \
    F(sd_bus_open_system)               \
    F(sd_bus_flush_close_unref)         \
    F(sd_bus_set_method_call_timeout)   \
    F(sd_bus_get_fd)                    \
    F(sd_bus_get_events)                \
    F(sd_bus_get_timeout)               \
    F(sd_bus_process)                   \
    F(sd_bus_send)                      \
    F(sd_bus_call_methodv)              \
    F(sd_bus_get_property)              \
    F(sd_bus_get_property_trivial)      \
    F(sd_bus_get_property_string)       \
    F(sd_bus_match_signal)              \
    F(sd_bus_add_object_vtable)         \
    F(sd_bus_reply_method_returnv)      \
    F(sd_bus_error_set)                 \
    F(sd_bus_error_free)                \
    F(sd_bus_error_has_name)            \
    F(sd_bus_message_new_method_return) \
    F(sd_bus_message_unref)             \
    F(sd_bus_message_appendv)           \
    F(sd_bus_message_readv)             \
    F(sd_bus_message_read_strv)         \
    F(sd_bus_message_skip)              \
    F(sd_bus_message_peek_type)         \
    F(sd_bus_message_enter_container)   \
    F(sd_bus_message_exit_container)    \
    F(sd_bus_message_get_bus)           \
    F(sd_bus_message_get_path)          \
    F(sd_bus_message_get_sender)        \
    F(sd_bus_message_sensitive)         \
    F(sd_bus_add_match)                 \
    F(sd_bus_call)                      \
    F(sd_bus_message_new_method_call)   \
    F(sd_bus_message_append_strv)       \
    F(sd_bus_message_open_container)    \
    F(sd_bus_message_close_container)
LINKMOOT_LIBRARY_TABLE(SystemdFunctions, LINKMOOT_SYSTEMD_FUNCTIONS)

const SystemdFunctions* systemd() {
    static const LibraryTable<SystemdFunctions> library(LINKMOOT_SYSTEMD_SONAME,
                                                        "NetworkManager and the idle shutdown");
    return library.functions();
}

}  // namespace

bool systemdAvailable(std::string& why) {
    if (systemd() != nullptr)
        return true;
    why = LINKMOOT_SYSTEMD_SONAME " cannot be loaded";
    return false;
}

}  // namespace linkmoot

using linkmoot::systemd;

// What a call answers without the library.
#define LINKMOOT_FORWARD(name, failed, ...) \
    const auto* library = systemd();        \
    return library != nullptr ? library->name(__VA_ARGS__) : failed

extern "C" {

// The vtables' format, which SD_BUS_VTABLE_START points the library at; the
// library reads it to learn which layout our vtables have: the header's.
const unsigned sd_bus_object_vtable_format = 242;

int sd_bus_open_system(sd_bus** bus) {
    LINKMOOT_FORWARD(sd_bus_open_system, -ELIBACC, bus);
}
sd_bus* sd_bus_flush_close_unref(sd_bus* bus) {
    LINKMOOT_FORWARD(sd_bus_flush_close_unref, nullptr, bus);
}
int sd_bus_set_method_call_timeout(sd_bus* bus, uint64_t usec) {
    LINKMOOT_FORWARD(sd_bus_set_method_call_timeout, -ELIBACC, bus, usec);
}
int sd_bus_get_fd(sd_bus* bus) {
    LINKMOOT_FORWARD(sd_bus_get_fd, -ELIBACC, bus);
}
int sd_bus_get_events(sd_bus* bus) {
    LINKMOOT_FORWARD(sd_bus_get_events, -ELIBACC, bus);
}
int sd_bus_get_timeout(sd_bus* bus, uint64_t* usec) {
    LINKMOOT_FORWARD(sd_bus_get_timeout, -ELIBACC, bus, usec);
}
int sd_bus_process(sd_bus* bus, sd_bus_message** message) {
    LINKMOOT_FORWARD(sd_bus_process, -ELIBACC, bus, message);
}
int sd_bus_send(sd_bus* bus, sd_bus_message* message, uint64_t* cookie) {
    LINKMOOT_FORWARD(sd_bus_send, -ELIBACC, bus, message, cookie);
}
int sd_bus_call_method(sd_bus* bus, const char* destination, const char* path,
                       const char* interface, const char* member, sd_bus_error* error,
                       sd_bus_message** reply, const char* types, ...) {
    va_list arguments;
    va_start(arguments, types);
    const auto* library = systemd();
    const int result = library != nullptr
                           ? library->sd_bus_call_methodv(bus, destination, path, interface, member,
                                                          error, reply, types, arguments)
                           : -ELIBACC;
    va_end(arguments);
    return result;
}
int sd_bus_get_property(sd_bus* bus, const char* destination, const char* path,
                        const char* interface, const char* member, sd_bus_error* error,
                        sd_bus_message** reply, const char* type) {
    LINKMOOT_FORWARD(sd_bus_get_property, -ELIBACC, bus, destination, path, interface, member,
                     error, reply, type);
}
int sd_bus_get_property_trivial(sd_bus* bus, const char* destination, const char* path,
                                const char* interface, const char* member, sd_bus_error* error,
                                char type, void* value) {
    LINKMOOT_FORWARD(sd_bus_get_property_trivial, -ELIBACC, bus, destination, path, interface,
                     member, error, type, value);
}
int sd_bus_get_property_string(sd_bus* bus, const char* destination, const char* path,
                               const char* interface, const char* member, sd_bus_error* error,
                               char** value) {
    LINKMOOT_FORWARD(sd_bus_get_property_string, -ELIBACC, bus, destination, path, interface,
                     member, error, value);
}
int sd_bus_match_signal(sd_bus* bus, sd_bus_slot** slot, const char* sender, const char* path,
                        const char* interface, const char* member,
                        sd_bus_message_handler_t callback, void* userdata) {
    LINKMOOT_FORWARD(sd_bus_match_signal, -ELIBACC, bus, slot, sender, path, interface, member,
                     callback, userdata);
}
int sd_bus_add_object_vtable(sd_bus* bus, sd_bus_slot** slot, const char* path,
                             const char* interface, const sd_bus_vtable* vtable, void* userdata) {
    LINKMOOT_FORWARD(sd_bus_add_object_vtable, -ELIBACC, bus, slot, path, interface, vtable,
                     userdata);
}
int sd_bus_reply_method_return(sd_bus_message* call, const char* types, ...) {
    va_list arguments;
    va_start(arguments, types);
    const auto* library = systemd();
    const int result = library != nullptr
                           ? library->sd_bus_reply_method_returnv(call, types, arguments)
                           : -ELIBACC;
    va_end(arguments);
    return result;
}
int sd_bus_error_set(sd_bus_error* error, const char* name, const char* message) {
    LINKMOOT_FORWARD(sd_bus_error_set, -ELIBACC, error, name, message);
}
void sd_bus_error_free(sd_bus_error* error) {
    if (const auto* library = systemd())
        library->sd_bus_error_free(error);
}
int sd_bus_error_has_name(const sd_bus_error* error, const char* name) {
    LINKMOOT_FORWARD(sd_bus_error_has_name, 0, error, name);
}
int sd_bus_message_new_method_return(sd_bus_message* call, sd_bus_message** message) {
    LINKMOOT_FORWARD(sd_bus_message_new_method_return, -ELIBACC, call, message);
}
sd_bus_message* sd_bus_message_unref(sd_bus_message* message) {
    LINKMOOT_FORWARD(sd_bus_message_unref, nullptr, message);
}
int sd_bus_message_append(sd_bus_message* message, const char* types, ...) {
    va_list arguments;
    va_start(arguments, types);
    const auto* library = systemd();
    const int result =
        library != nullptr ? library->sd_bus_message_appendv(message, types, arguments) : -ELIBACC;
    va_end(arguments);
    return result;
}
int sd_bus_message_read(sd_bus_message* message, const char* types, ...) {
    va_list arguments;
    va_start(arguments, types);
    const auto* library = systemd();
    const int result =
        library != nullptr ? library->sd_bus_message_readv(message, types, arguments) : -ELIBACC;
    va_end(arguments);
    return result;
}
int sd_bus_message_read_strv(sd_bus_message* message, char*** strings) {
    LINKMOOT_FORWARD(sd_bus_message_read_strv, -ELIBACC, message, strings);
}
int sd_bus_message_skip(sd_bus_message* message, const char* types) {
    LINKMOOT_FORWARD(sd_bus_message_skip, -ELIBACC, message, types);
}
int sd_bus_message_peek_type(sd_bus_message* message, char* type, const char** contents) {
    LINKMOOT_FORWARD(sd_bus_message_peek_type, -ELIBACC, message, type, contents);
}
int sd_bus_message_enter_container(sd_bus_message* message, char type, const char* contents) {
    LINKMOOT_FORWARD(sd_bus_message_enter_container, -ELIBACC, message, type, contents);
}
int sd_bus_message_exit_container(sd_bus_message* message) {
    LINKMOOT_FORWARD(sd_bus_message_exit_container, -ELIBACC, message);
}
sd_bus* sd_bus_message_get_bus(sd_bus_message* message) {
    LINKMOOT_FORWARD(sd_bus_message_get_bus, nullptr, message);
}
const char* sd_bus_message_get_path(sd_bus_message* message) {
    LINKMOOT_FORWARD(sd_bus_message_get_path, nullptr, message);
}
const char* sd_bus_message_get_sender(sd_bus_message* message) {
    LINKMOOT_FORWARD(sd_bus_message_get_sender, nullptr, message);
}
int sd_bus_message_sensitive(sd_bus_message* message) {
    LINKMOOT_FORWARD(sd_bus_message_sensitive, -ELIBACC, message);
}
int sd_bus_add_match(sd_bus* bus, sd_bus_slot** slot, const char* match,
                     sd_bus_message_handler_t callback, void* userdata) {
    LINKMOOT_FORWARD(sd_bus_add_match, -ELIBACC, bus, slot, match, callback, userdata);
}
int sd_bus_call(sd_bus* bus, sd_bus_message* message, uint64_t usec, sd_bus_error* error,
                sd_bus_message** reply) {
    LINKMOOT_FORWARD(sd_bus_call, -ELIBACC, bus, message, usec, error, reply);
}
int sd_bus_message_new_method_call(sd_bus* bus, sd_bus_message** message, const char* destination,
                                   const char* path, const char* interface, const char* member) {
    LINKMOOT_FORWARD(sd_bus_message_new_method_call, -ELIBACC, bus, message, destination, path,
                     interface, member);
}
int sd_bus_message_append_strv(sd_bus_message* message, char** strings) {
    LINKMOOT_FORWARD(sd_bus_message_append_strv, -ELIBACC, message, strings);
}
int sd_bus_message_open_container(sd_bus_message* message, char type, const char* contents) {
    LINKMOOT_FORWARD(sd_bus_message_open_container, -ELIBACC, message, type, contents);
}
int sd_bus_message_close_container(sd_bus_message* message) {
    LINKMOOT_FORWARD(sd_bus_message_close_container, -ELIBACC, message);
}

}  // extern "C"
