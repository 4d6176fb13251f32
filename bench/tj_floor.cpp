// The floor of a batch: every file given decoded and encoded again with
// bare TurboJPEG (quality 75, 4:2:0), nothing else.
// tj_floor OUTDIR FILE...
#include <turbojpeg.h>

#include <cstdio>
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
        std::vector<unsigned char> in;
        unsigned char buf[1 << 16];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) in.insert(in.end(), buf, buf + n);
        fclose(f);
        int w, h, ss, cs;
        if (tjDecompressHeader3(d, in.data(), in.size(), &w, &h, &ss, &cs) != 0) continue;
        std::vector<unsigned char> px(static_cast<size_t>(w) * h * 4);
        tjDecompress2(d, in.data(), in.size(), px.data(), w, w * 4, h, TJPF_BGRX, 0);
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(c, px.data(), w, w * 4, h, TJPF_BGRX, &jpeg, &size, TJSAMP_420, 75, 0);
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
