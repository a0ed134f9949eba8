// Writes a starting corpus for dataset_fuzz into the folder it is given:
// one text of every token shape and of the nesting the reader knows.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: dataset_seeds FOLDER\n";
        return 2;
    }
    const std::vector<std::string> seeds = {
        "abc",
        "a-b.c@d_e9",
        "caf\xC3\xA9 \xE2\x82\xAC",
        "#12",
        "#-5",
        "(#T01-02-2009_10:11:12, #Tx)",
        "#NULL#",
        "#(a b=c)",
        "(#I[10.0.0.1]:25, #I[fe80::1])",
        "\"a b\\\"c\\e\\t\\0\\\\\\101\\ddd\\n\"",
        "\"a\" \"b\"",
        "[TWFu]",
        "[TW\nFu\xC3\xA9=]",
        "[]",
        "()",
        "{}",
        "(a;, b;)",
        "{a = b; c = \"x y\"; d = (1, 2, (3)); e = {f = [TWE=];};}",
        "{\"\" = x; \"k-1\" = \"\";}",
        "a, b",
        "\xEF\xBB\xBF{a = b;}",
        "{\r\n  a = b;\r\n  list = \r\n  (\r\n    1,\r\n    \"x\ry\"\r\n  );\r\n}",
        "(((((((((((x)))))))))))",
        "{a={b={c={d=e;};};};}",
    };
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(std::string(argv[1]) + "/seed_" + std::to_string(i), std::ios::binary);
        out << seeds[i];
        if (!out) {
            std::cerr << "dataset_seeds: cannot write into " << argv[1] << "\n";
            return 1;
        }
    }
    return 0;
}
