// A folder of a million messages, for the provider benchmark: its index is
// made through the store layer (posting a million messages through MAPI would
// take hours), then its contents table is opened through MAPI in a process
// of its own, so that the peak working set reported is that of the table.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// Makes (once; kept in the work folder) a store with the folder
// "Mailbox#Large" whose index lists count messages like the module's
// postings. withFiles: each message also gets a message file (hard links to
// one), so that the folder can be opened for writing, which checks the index
// against the files.
bool MakeLargeFolder(const std::wstring& workFolder, uint32_t count, bool withFiles);

// In this process: logs on, opens the folder and its contents table, reads
// the row count, the first and the last 50 rows, sorts by submit time; and
// opens the folder for writing when writable. Prints each time and the
// process's peak working set.
int MeasureLargeFolder(const std::wstring& workFolder, uint32_t count, bool writable);

// Runs MeasureLargeFolder in a new process of this program (arguments
// "--measure-large-folder <work folder> <count> <0|1>").
bool MeasureLargeFolderApart(const std::wstring& workFolder, uint32_t count, bool writable);

// One posting into a folder of count messages against one into an empty
// folder of the same store. The folder's files are made once (kept in the
// work folder) the way a repair finds them: hard links to a few small message
// files, placed straight into their buckets, with the index written through
// the store layer; then a process of its own logs on, opens both folders for
// writing and posts 10 KiB files into each, in turns, each folder going first
// as often as the other. Prints the time per posting and the ratio.
bool MakeBigFolder(const std::wstring& workFolder, uint32_t count);
int MeasureBigFolder(const std::wstring& workFolder, uint32_t count);
// Runs MeasureBigFolder in a new process ("--measure-big-folder <work folder> <count>").
bool MeasureBigFolderApart(const std::wstring& workFolder, uint32_t count);

}  // namespace bench
