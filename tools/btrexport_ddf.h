// btrexport over a data dictionary: the tables FILE.DDF, FIELD.DDF and INDEX.DDF
// describe, listed or exported with their own column names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "btrieve/dictionary.h"

namespace btrexport {

// btrexport --ddf DIR (--list | --table NAME [--key N] | --sqlite OUT.db)
//           [--encoding E] [--data DIR]...
struct DictionaryArgs {
    enum class Mode { None, List, Table, Sqlite };
    Mode mode = Mode::None;
    std::string folder;       // the dictionary's
    std::string table;        // --table
    std::string sqlitePath;   // --sqlite
    int key = 0;
    bool keyGiven = false;
    btrieve::DictionaryOptions options;  // --encoding, --data
};

extern const char kDictionaryUsage[];
extern const char kDictionaryHelp[];

// args: the command line after the program name, starting with --ddf. False with
// why set when they are not a dictionary command's.
bool parseDictionaryArgs(const std::vector<std::string>& args, DictionaryArgs& out, std::string& why);

// Opens the dictionary (exit status 1 and a message naming the file when it cannot
// be read, 2 for an unknown encoding), then says each table's faults once (with
// --table, that table's).
int openDictionary(const DictionaryArgs& args, std::unique_ptr<btrieve::Dictionary>& out);

// Runs a dictionary command; the exit status.
int runDictionary(const std::vector<std::string>& args);

}  // namespace btrexport
