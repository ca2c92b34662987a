// A whole file written through the output owner's stdio stream: a write cut
// short by a full disk is reported with the system's reason, not as success.
#include "OutputFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace devupdate::link;

TEST(OutputStreamTest, AFullDiskIsReportedWithTheSystemsReason)
{
    char folder[] = "/tmp/output-stream-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/image.bin";
    int answer[2];
    ASSERT_EQ(pipe(answer), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file size limit stands for a full disk, in this child only.
        const rlimit limit{100, 100};
        if (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(2);
        std::string problem;
        if (FILE* file = OpenOutputStream(path, problem)) {
            const std::vector<char> bytes(4096, 'x');
            problem = FinishOutput(file, std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
        }
        _exit(write(answer[1], problem.data(), problem.size()) == static_cast<ssize_t>(problem.size()) ? 0 : 3);
    }
    (void)close(answer[1]);
    char text[256] = {};
    const ssize_t n = read(answer[0], text, sizeof text - 1);
    (void)close(answer[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(std::string(text, n > 0 ? static_cast<size_t>(n) : 0), "File too large");
    (void)unlink(path.c_str());
    (void)rmdir(folder);
}
