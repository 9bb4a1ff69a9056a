#pragma once
#include <string>
#include <vector>

namespace linkmoot {

/// What this machine cannot provide, found as the program runs (a library that
/// cannot be loaded): each is a status row from then on. Rules:
/// - rows() answers at once, on the loop's thread; the findings may come from
///   any thread and are seen at the next call.
/// - A row names what is off and why; rows are never withdrawn, and new ones
///   come after the old (the application logs each once, at Error).
class MissingFeatures {
public:
    virtual ~MissingFeatures() = default;
    virtual std::vector<std::string> rows() const = 0;
};

}  // namespace linkmoot
