# SQLite for btrexport's export (the library) and the extension (its headers):
# SQLite::SQLite3 and SQLite3_INCLUDE_DIRS. Debian's on Linux. Debian packages no
# SQLite for Windows, so the Windows build compiles SQLite's amalgamation, from the
# folder SQLITE3_AMALGAMATION names (sqlite3.c, sqlite3.h, sqlite3ext.h), into the
# programs; without one it looks for an installed SQLite as on Linux.
set(SQLITE3_AMALGAMATION "" CACHE PATH "Folder of SQLite's amalgamation to build in (Windows)")
if(SQLITE3_AMALGAMATION)
  enable_language(C)
  add_library(sqlite3_amalgamation STATIC ${SQLITE3_AMALGAMATION}/sqlite3.c)
  target_include_directories(sqlite3_amalgamation PUBLIC ${SQLITE3_AMALGAMATION})
  # Threads as Debian builds them; nothing else changed from SQLite's defaults.
  target_compile_definitions(sqlite3_amalgamation PRIVATE SQLITE_THREADSAFE=1)
  # Warnings are SQLite's own business.
  target_compile_options(sqlite3_amalgamation PRIVATE -w)
  add_library(SQLite::SQLite3 ALIAS sqlite3_amalgamation)
  set(SQLite3_INCLUDE_DIRS ${SQLITE3_AMALGAMATION})
else()
  find_package(SQLite3 REQUIRED)
endif()
