// Writes a starting corpus of router tables into the folder it is given.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: router_seeds FOLDER\n");
        return 2;
    }
    const char* const seeds[] = {
        "<joe@a.com> = ann@b.com\n",
        "<*@a.com> = *@b.com\nb.com = c.com\n",
        "; comment\n\nRelay: <joe> = \"John Doe\"@b.com ; to John\r\n",
        "*.a.com = *.b.com\na.com =\n<a@x> = b@x\n<b@x> = a@x\n",
        "\xEF\xBB\xBF<j\xC3\xA9@a.com> = x@y.here\r<a\\*b> = *@c.pipe\n",
        "<joe@a.com> = *@b.com\nx.org = *.y.org\n<*> = all@main.com\n",
    };
    int n = 0;
    for (const char* seed : seeds) {
        const std::string path = std::string(argv[1]) + "/seed" + std::to_string(++n);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return 1;
        std::fputs(seed, f);
        std::fclose(f);
    }
    return 0;
}
