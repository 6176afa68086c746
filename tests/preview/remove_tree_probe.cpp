// Removes the folder it is given with the preview's removeTree, for
// check_demo.cmake to see what is left.
#include "files.h"

int main() {
    const std::vector<std::string> arguments = preview::arguments();
    if (arguments.size() != 1) return 2;
    preview::removeTree(preview::fullPath(arguments[0]));
    return 0;
}
