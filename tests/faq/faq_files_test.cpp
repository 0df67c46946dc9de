#include "faq/faq_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "core/text_utils.h"

namespace morvale {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FAQFiles, LocalPathIsLoginAndLastUrlSegmentInsideTheTemporaryDirectory) {
    const std::string dir = TempPath();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(FAQLocalPath("op01", "/faq/12/lib.xml"), dir + "op01_lib.xml");
    EXPECT_EQ(FAQLocalPath("op01", "lib.xml"), dir + "op01_lib.xml");
    EXPECT_EQ(FAQLocalPath("../../etc/op", "/x/.."), dir + ".._.._etc_op_..");
    EXPECT_EQ(FAQLocalPath("a\\b", "/x/"), dir + "a_b_");
}

TEST(FAQFiles, LoadJoinsLinesWithCrLfAndReadsTheTree) {
    const std::string path = TempPath() + "faq_load_test.xml";
    { std::ofstream(path, std::ios::binary) << "<r>\n<c n=\"a\">\r\n<i n=\"b\">x\ry</i></c>\n</r>"; }
    const FAQLoadResult r = LoadFAQFile(path);
    EXPECT_EQ(r.text, "<r>\r\n<c n=\"a\">\r\n<i n=\"b\">x\r\ny</i></c>\r\n</r>\r\n");
    ASSERT_TRUE(r.ok()) << r.error();
    ASSERT_EQ(r.document.tree.root.children.size(), 1u);
    EXPECT_EQ(r.document.tree.root.children[0]->children[0]->data.content, "x\ny");
    unlink(path.c_str());

    const FAQLoadResult missing = LoadFAQFile(path);
    EXPECT_FALSE(missing.ok());
    EXPECT_TRUE(missing.text.empty());
}

TEST(FAQFiles, UploadFileNameAndLifetime) {
    const DateTime when = EncodeDateTime({2026, 12, 5, 13, 7, 9, 12});
    EXPECT_EQ(FAQUploadFile::FileName(when, 42),
              "ife05130709012"
              "42.xml");

    std::string path;
    {
        FAQUploadFile file;
        path = file.path();
        ASSERT_EQ(path.rfind(TempPath() + "ife", 0), 0u) << path;
        ASSERT_TRUE(file.Write("first version"));
        ASSERT_TRUE(file.Write("v2"));
        EXPECT_EQ(ReadAll(path), "v2");
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(FAQFiles, UploadFileNeverWritesThroughALink) {
    FAQUploadFile file;
    const std::string target = TempPath() + "faq_link_target.txt";
    { std::ofstream(target) << "keep"; }
    ASSERT_EQ(symlink(target.c_str(), file.path().c_str()), 0);
    EXPECT_FALSE(file.Write("overwrite"));
    EXPECT_EQ(ReadAll(target), "keep");
    unlink(target.c_str());
}

}  // namespace
}  // namespace morvale
