#include <iostream>

#include "app.h"

int main(int argc, char** argv) {
    return qrx::cli::run(argc, argv, std::cout, std::cerr);
}
