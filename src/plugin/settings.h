// The plugin's settings: what the user asks of every archive Quarn opens,
// kept in the ini file whose name the host hands over through
// PackSetDefaultParams, in a section [Quarn]:
//
//   [Quarn]
//   ShowDeleted=1    ; list each disk's deleted files under DISK\Deleted
//
// The file is read when an archive opens, so an edit takes effect with the
// next archive. A missing file, section or key means the default.
#ifndef QUARN_PLUGIN_SETTINGS_H
#define QUARN_PLUGIN_SETTINGS_H

#include <optional>
#include <string>
#include <string_view>

namespace quarn {

struct TSettings {
  // List the files and folders the dead descriptors of each file-system
  // disk still hold, and the disks a damaged partition record hides.
  bool ShowDeleted = false;
  // Read the dump through a view of its file instead of a copy (TFileView:
  // no copy, but a file cut while it is open raises SIGBUS). Never from an
  // ini file: only a host that handles that signal, the command, asks.
  bool MapDump = false;
};

// Remembers the ini file a host named (narrow code page; UTF-8 on Linux).
void SetSettingsFile(std::string path);
// The settings an archive opened now takes: those a caller set with
// SetSettingsOverride, else the remembered file's, else the defaults.
TSettings OpeningSettings();
// For a host linked with the core (the command): settings of its own that
// win over any file; none to go back to the file.
void SetSettingsOverride(std::optional<TSettings> settings);
// The settings an ini file's text gives: the [Quarn] section's keys, section
// and key names in any letter case, "1", "true", "yes" or "on" for a yes.
TSettings ParseSettings(std::string_view iniText);

}  // namespace quarn

#endif
