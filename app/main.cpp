#include <clocale>
#include <cstdio>

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::puts("Sonvar: the main window is not built yet; there is nothing to run.");
    return 0;
}
