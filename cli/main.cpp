#include <iostream>

#include "app.h"
#include "qrx/process.h"

int main(int argc, char** argv) {
    qrx::askForHugePages(argv);
    return qrx::cli::run(argc, argv, std::cout, std::cerr);
}
