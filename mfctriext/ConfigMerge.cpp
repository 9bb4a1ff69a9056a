#include "mfctriext/ConfigMerge.h"

#include <string>
#include <vector>

#include "ToolBox/Config.h"

namespace mfctriext {

namespace {

/// The value as the file holds it.
std::string fileForm(const toolbox::ConfigParameter& parameter) {
    toolbox::Config::BufferWriter text;
    parameter.writeValue(text);
    return std::string(text.getText(), text.getLength());
}

/// The key's value from `from` into `to`, of the same kind.
void copyValue(toolbox::ConfigSection& to, toolbox::ConfigSection& from, const char* name) {
    const toolbox::ConfigParameter& source = *from.getParameters().get(name);
    switch (source.getKind()) {
        case toolbox::ConfigParameter::Unset:
            to.removeParameter(name);
            to.getParameter(name);
            break;
        case toolbox::ConfigParameter::Boolean:
            to.getParameter(name)->setBool(source.asBool());
            break;
        case toolbox::ConfigParameter::Integer:
            to.getParameter(name)->setLong(source.asLong());
            break;
        case toolbox::ConfigParameter::Text:
            to.getParameter(name)->setString(source.asString());
            break;
        default:
            // No setter makes a real; its file form is what a read gets back.
            to.getParameter(name)->setString(fileForm(source).c_str());
            break;
    }
}

/// True when anything in the subtree changed from before to after.
bool changed(toolbox::ConfigSection* before, toolbox::ConfigSection& after) {
    if (before == nullptr)
        return true;
    auto& beforeKeys = before->getParameters();
    auto& afterKeys = after.getParameters();
    auto& beforeSections = before->getSections();
    auto& afterSections = after.getSections();
    if (beforeKeys.getCount() != afterKeys.getCount() ||
        beforeSections.getCount() != afterSections.getCount()) {
        return true;
    }
    for (const std::string& name : afterKeys.keyNames()) {
        const toolbox::ConfigParameter* old = beforeKeys.get(name.c_str());
        if (old == nullptr || fileForm(*old) != fileForm(*afterKeys.get(name.c_str())))
            return true;
    }
    for (const std::string& name : afterSections.keyNames()) {
        toolbox::ConfigSection* old = beforeSections.get(name.c_str());
        if (old == nullptr || changed(old, *afterSections.get(name.c_str())))
            return true;
    }
    return false;
}

}  // namespace

void copyTree(toolbox::ConfigSection& to, toolbox::ConfigSection& from) {
    to.clear();
    for (const std::string& name : from.getParameters().keyNames())
        copyValue(to, from, name.c_str());
    for (const std::string& name : from.getSections().keyNames())
        copyTree(*to.getSection(name.c_str()), *from.getSections().get(name.c_str()));
}

void applyChanges(toolbox::ConfigSection& file, toolbox::ConfigSection* before,
                  toolbox::ConfigSection& after) {
    auto& afterKeys = after.getParameters();
    for (const std::string& name : afterKeys.keyNames()) {
        const char* key = name.c_str();
        const toolbox::ConfigParameter& now = *afterKeys.get(key);
        const toolbox::ConfigParameter* old =
            before != nullptr ? before->getParameters().get(key) : nullptr;
        if (old != nullptr ? fileForm(*old) == fileForm(now)
                           : now.isStoredDefault() && file.hasParameter(key)) {
            continue;  // the program left it alone, or the file has its own value
        }
        copyValue(file, after, key);
    }
    auto& afterSections = after.getSections();
    for (const std::string& name : afterSections.keyNames()) {
        const char* key = name.c_str();
        toolbox::ConfigSection* old = before != nullptr ? before->getSections().get(key) : nullptr;
        // A section the program did not touch stays as the file has it, or
        // stays away when the edit removed it.
        if (changed(old, *afterSections.get(key)))
            applyChanges(*file.getSection(key), old, *afterSections.get(key));
    }
    if (before == nullptr)
        return;
    for (const std::string& name : before->getParameters().keyNames()) {
        if (afterKeys.get(name.c_str()) == nullptr)
            file.removeParameter(name.c_str());
    }
    for (const std::string& name : before->getSections().keyNames()) {
        if (afterSections.get(name.c_str()) == nullptr)
            file.removeSection(name.c_str());
    }
}

}  // namespace mfctriext
