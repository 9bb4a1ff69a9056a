#pragma once
// Saving over a file that was edited while the program ran: the program's own
// changes since it last read or wrote the file are applied to what the file
// holds now, instead of the program's whole tree replacing it.
namespace toolbox {
class ConfigSection;
}

namespace mfctriext {

/// Makes `to` hold a copy of what `from` holds, kinds and stored-default marks included.
void copyTree(toolbox::ConfigSection& to, toolbox::ConfigSection& from);

/// Applies to `file` what changed from `before` (the tree as the program last
/// read or wrote the file; null: nothing was there) to `after` (the tree now):
/// a key set or changed since takes its new value, a key or section removed
/// since goes, and a default a read stored since is added only where the file
/// has no such key. Everything else keeps the file's value, so an edit of
/// the file survives.
void applyChanges(toolbox::ConfigSection& file, toolbox::ConfigSection* before,
                  toolbox::ConfigSection& after);

}  // namespace mfctriext
