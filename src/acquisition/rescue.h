// The last place for received text: when a block can be written neither to
// its data file nor kept by its port's journal (the output directory has
// become unwritable, the disk is full), it goes to a rescue directory
// elsewhere rather than being discarded. Each block is kept in a file of the
// data file's own name, laid out as that file would hold it (its head when
// new, the start marker, the text, the end marker), so the operator can see
// at once which hour and port it belongs to and add it to the archive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Where rescued text goes: QUORVANE_RESCUE_DIRECTORY when set; else the
// service's state directory ($STATE_DIRECTORY/rescue, which systemd gives to
// the service user); else the user's ($XDG_STATE_HOME/quorvane/rescue or
// ~/.local/state/quorvane/rescue; on Windows %LOCALAPPDATA%\Quorvane\rescue).
// Empty when none of them is known.
std::string DefaultRescueDirectory();

// The directory the writer rescues text to from now on; empty (the start
// value) means text that cannot be written is given up as before. Set by
// the programs that run a station, not by the engine itself.
void SetRescueDirectory(const std::string& directory);
std::string RescueDirectory();

// One block as its data file would hold it.
struct RescuedBlock {
    std::string file_name;          // the data file's name, without directory
    std::string_view head;          // what a new data file begins with
    std::string_view start_marker;  // with its line end
    std::string_view text;
    std::string_view end_marker;
};

// Appends `block` to its file in the rescue directory (with the head when the
// file is new), which is made when missing, durably. The file's path, or
// empty when there is no rescue directory or it cannot be written either.
std::string RescueBlock(const RescuedBlock& block);

// Received bytes kept in the rescue directory since the process started
// (entry 43).
int64_t ReceivedBytesRescued();
