// Splits arbitrary texts into paths and checks them against a model of the
// rules: the prefix and the names of a backslash path, rendering and splitting
// again, native paths (fromNative, toNative), the folder of a path (its last
// name dropped), appending a name and replacing an extension.
//
// Input, split at NUL bytes: the path text, an extension, a name to append.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PrintableCheck.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Memory.h"

using fuzzcheck::fail;
using toolbox::Directory;

namespace {

struct ModelPath {
    std::string prefix;
    std::vector<std::string> names;
};

std::vector<std::string> pieces(std::string_view text, char separator) {
    std::vector<std::string> result;
    for (;;) {
        std::size_t end = text.find(separator);
        std::string_view piece = text.substr(0, end);
        if (!piece.empty())
            result.emplace_back(piece);
        if (end == std::string_view::npos)
            return result;
        text.remove_prefix(end + 1);
    }
}

/// The split of a backslash path: a server part, a drive, a root or nothing,
/// then the non-empty pieces between backslashes.
ModelPath split(std::string_view text) {
    std::size_t prefix = 0;
    if (text.substr(0, 2) == "\\\\") {
        std::size_t next = text.find('\\', 2);
        prefix = next == std::string_view::npos ? text.size() : next + 1;
    } else if (std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        prefix = colon + 1;
        if (text.find('\\') == colon + 1)
            prefix++;
    } else if (!text.empty() && text[0] == '\\') {
        prefix = 1;
    }
    return {std::string(text.substr(0, prefix)), pieces(text.substr(prefix), '\\')};
}

std::string trimmedName(std::string_view name) {
    while (!name.empty() && name.front() == '\\')
        name.remove_prefix(1);
    while (!name.empty() && name.back() == '\\')
        name.remove_suffix(1);
    return std::string(name);
}

std::string joined(const ModelPath& path, const char* separator, bool trailing) {
    std::string text = path.prefix;
    for (std::size_t index = 0; index < path.names.size(); index++) {
        text += path.names[index];
        if (index + 1 < path.names.size() || trailing)
            text += separator;
    }
    return text;
}

/// Takes a text made with allocate().
std::string taken(char* text) {
    std::string result(text);
    toolbox::release(text);
    return result;
}

void expectPath(const Directory& path, const ModelPath& model, const char* what) {
    if (model.prefix != path.getPrefix())
        fail(what, path.getPrefix());
    std::size_t index = 0;
    for (const toolbox::PathElement* e = path.getElements().getFirst(); e != nullptr;
         e = e->getNext(), index++) {
        if (index >= model.names.size() || model.names[index] != e->getName())
            fail(what, e->getName());
    }
    if (index != model.names.size())
        fail(what, "fewer names");
    if (taken(path.toString(false)) != joined(model, "\\", false))
        fail(what, "toString(false)");
    if (taken(path.toString(true)) != joined(model, "\\", true))
        fail(what, "toString(true)");
}

/// The name with its extension replaced, or nothing for an empty name.
bool withExtension(std::string& name, std::string_view extension) {
    if (name.empty())
        return false;
    if (!extension.empty() && extension[0] == '.')
        extension.remove_prefix(1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.resize(dot);
    name += '.';
    name += extension;
    return true;
}

void exercise(Directory& path, ModelPath model, const std::string& extension,
              const std::string& appended, const char* what) {
    expectPath(path, model, what);
    std::unique_ptr<Directory> copy(path.copy());
    expectPath(*copy, model, what);

    // The folder of the path: its last name dropped.
    if (!model.names.empty()) {
        copy->getElements().deleteLast();
        ModelPath folder = model;
        folder.names.pop_back();
        expectPath(*copy, folder, what);
    }

    path.append(appended.c_str());
    model.names.push_back(trimmedName(appended));
    expectPath(path, model, what);

    toolbox::PathElement* last = path.getLastElement();
    std::string expected = model.names.back();
    bool replaced = withExtension(expected, extension);
    if (last->setExtension(extension.c_str()) != replaced)
        fail(what, "setExtension's result");
    if (replaced)
        model.names.back() = expected;
    expectPath(path, model, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string parts[3];
    for (std::string& part : parts) {
        std::size_t end = input.find('\0');
        part = std::string(input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    const std::string& text = parts[0];

    Directory split_(text.c_str());
    ModelPath model = split(text);
    // Rendering and splitting again changes nothing.
    Directory again(taken(split_.toString(false)).c_str());
    expectPath(again, model, "split of the rendered path");
    exercise(split_, model, parts[1], parts[2], "split");

    // A native path: "/" makes the root, empty pieces vanish. Native names that
    // hold a backslash do not cross over unchanged (the separator inside is the
    // backslash), so only the others are compared as texts.
    std::unique_ptr<Directory> native(Directory::fromNative(text.c_str()));
    ModelPath nativeModel{text.empty() || text[0] != '/' ? "" : "\\", {}};
    for (const std::string& piece : pieces(text, '/'))
        nativeModel.names.push_back(trimmedName(piece));
    if (text.find('\\') == std::string::npos) {
        ModelPath rendered = nativeModel;
        rendered.prefix = rendered.prefix.empty() ? "" : "/";
        if (taken(native->toNative()) != joined(rendered, "/", false))
            fail("toNative", text);
    }
    exercise(*native, nativeModel, parts[1], parts[2], "fromNative");
    return 0;
}
