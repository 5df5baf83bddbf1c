// std::system on Windows returns the program's exit code itself.
#pragma once
#define WIFEXITED(status) ((status) != -1)
#define WEXITSTATUS(status) (status)
