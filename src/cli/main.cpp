#include "cli/kestrup_main.h"

int main(int argc, char** argv) {
    return runKestrup(argc, argv);
}
