// Runs a fuzz target over the files of its corpus as an ordinary test, so
// every input that once mattered is checked on every build.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData);

namespace
{

bool ReplayFile(const std::string& path)
{
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile)
        return false;
    std::vector<uint8_t> data;
    uint8_t abChunk[4096];
    size_t cb;
    while ((cb = fread(abChunk, 1, sizeof abChunk, pFile)) > 0)
        data.insert(data.end(), abChunk, abChunk + cb);
    (void)fclose(pFile); // read only: nothing to lose on close
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int nFiles = 0;
    for (int i = 1; i < argc; ++i)
    {
        struct stat info;
        if (stat(argv[i], &info) != 0)
        {
            (void)fprintf(stderr, "no such corpus: %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(info.st_mode))
        {
            nFiles += ReplayFile(argv[i]);
            continue;
        }
        DIR* pDir = opendir(argv[i]);
        while (struct dirent* pEntry = readdir(pDir))
        {
            if (pEntry->d_name[0] == '.')
                continue;
            nFiles += ReplayFile(std::string(argv[i]) + "/" + pEntry->d_name);
        }
        closedir(pDir);
    }
    printf("replayed %d inputs\n", nFiles);
    return nFiles > 0 ? 0 : 1;
}
