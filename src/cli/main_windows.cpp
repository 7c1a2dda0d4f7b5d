// The program's entry on Windows: the command line arrives as UTF-16 and goes
// on as UTF-8, the form in which the rest of the program holds names.
#include <string>
#include <vector>

#include "cli/kestrup_main.h"
#include "platform/wide_text_windows.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(toUtf8(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return runKestrup(argc, pointers.data());
}
