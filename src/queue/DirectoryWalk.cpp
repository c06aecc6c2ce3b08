#include "DirectoryWalk.h"

#include <QByteArray>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

struct DirCloser
{
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct Entry
{
    std::string name;
    bool isDirectory;
};

struct DirectoryId
{
    dev_t device;
    ino_t inode;
    bool operator==(const DirectoryId&) const = default;
};

class TreeWalker
{
public:
    TreeWalker(const std::function<void(const QString&)>& onFile,
               const std::function<void()>& onDirectoryDone)
        : m_onFile(onFile), m_onDirectoryDone(onDirectoryDone)
    {}

    void Walk(std::string& path)
    {
        WalkEntries(path);
        if (m_onDirectoryDone)
            m_onDirectoryDone();
    }

private:
    // path ends with "/" on entry; it is extended for each entry and restored before return.
    void WalkEntries(std::string& path)
    {
        std::vector<Entry> entries;
        {
            DirHandle dir(opendir(path.c_str()));
            if (!dir)
                return;
            struct stat self;
            if (fstat(dirfd(dir.get()), &self) != 0)
                return;
            const DirectoryId id{self.st_dev, self.st_ino};
            for (const DirectoryId& open : m_onPath) {
                if (open == id)
                    return; // a link back to a directory being walked
            }
            m_onPath.push_back(id);
            // The whole listing is read before descending, so only one directory is open at a
            // time however deep the tree goes.
            while (const dirent* e = readdir(dir.get())) {
                const char* name = e->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                bool isDirectory = e->d_type == DT_DIR;
                if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
                    struct stat st;
                    isDirectory =
                        fstatat(dirfd(dir.get()), name, &st, 0) == 0 && S_ISDIR(st.st_mode);
                }
                entries.push_back({name, isDirectory});
            }
        }

        const std::size_t base = path.size();
        for (const Entry& entry : entries) {
            path.append(entry.name);
            if (entry.isDirectory) {
                path.push_back('/');
                Walk(path);
            } else if (m_onFile) {
                m_onFile(QFile::decodeName(QByteArray::fromRawData(path.data(), path.size())));
            }
            path.resize(base);
        }
        m_onPath.pop_back();
    }

    const std::function<void(const QString&)>& m_onFile;
    const std::function<void()>& m_onDirectoryDone;
    std::vector<DirectoryId> m_onPath;
};

} // namespace

void WalkDirectoryTree(const QString& dir, const std::function<void(const QString& file)>& onFile,
                       const std::function<void()>& onDirectoryDone)
{
    std::string path = QFile::encodeName(dir).toStdString();
    if (!path.empty() && path.back() != '/')
        path.push_back('/');
    TreeWalker(onFile, onDirectoryDone).Walk(path);
}
