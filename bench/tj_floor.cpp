// The floor of a batch: every file given decoded and encoded again with
// bare TurboJPEG (quality 75, 4:2:0), nothing else.
// tj_floor OUTDIR FILE...
#include <turbojpeg.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: tj_floor OUTDIR FILE...\n");
        return 2;
    }
    tjhandle d = tjInitDecompress(), c = tjInitCompress();
    for (int i = 2; i < argc; ++i) {
        FILE* f = fopen(argv[i], "rb");
        if (!f) continue;
        fseek(f, 0, SEEK_END);
        const long length = ftell(f);
        fseek(f, 0, SEEK_SET);
        std::vector<unsigned char> in(static_cast<size_t>(length));
        const size_t got = fread(in.data(), 1, in.size(), f);
        fclose(f);
        if (got != in.size()) continue;
        int w, h, ss, cs;
        if (tjDecompressHeader3(d, in.data(), in.size(), &w, &h, &ss, &cs) != 0) continue;
        // Uninitialised, as a decoder's own buffer would be.
        std::unique_ptr<unsigned char[]> px(new unsigned char[static_cast<size_t>(w) * h * 4]);
        tjDecompress2(d, in.data(), in.size(), px.get(), w, w * 4, h, TJPF_BGRX, 0);
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(c, px.get(), w, w * 4, h, TJPF_BGRX, &jpeg, &size, TJSAMP_420, 75, 0);
        std::string name = argv[i];
        name = std::string(argv[1]) + "/" + name.substr(name.find_last_of('/') + 1);
        if (FILE* o = fopen(name.c_str(), "wb")) {
            fwrite(jpeg, 1, size, o);
            fclose(o);
        }
        tjFree(jpeg);
    }
    tjDestroy(d);
    tjDestroy(c);
    return 0;
}
