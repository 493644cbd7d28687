// The model library's parts tree: the record table, the journal merge, the
// selector data file, the name list, and the writers' care for the files
// they replace.
#include <sys/resource.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "Clocks.h"
#include "FileSandbox.h"
#include "OptionStore.h"
#include "PartsLibrary.h"
#include "TestHost.h"

using namespace cvtest;  // the call helpers

namespace {

// Equal keys together in arrival order, lookups that ignore case: through
// ApplyJournal below. Here the fields of one record.
TEST(RecordTable, FieldsInAngleBracketsAndOutOfRange) {
    const LibraryRecord c = LibraryRecord::fromLine("c;<x;y>;z");
    EXPECT_TRUE(c.field(1) == "<x;y>" && c.field(-1) == "");
    LibraryRecord r = LibraryRecord::fromLine("k;1");
    r.setField(4, "v");
    r.setField(-2, "ignored");
    EXPECT_EQ(r.line, "k;1;;;v;");
    EXPECT_EQ(LibraryRecord::fromLine("").fields.count(), 1);
}

// ---------------------------------------------------------------- journal merge

const char* const kBase = "A;1;2;3\nB;1;2;3\n\nC;x;y\na;second\nD;keep\nE;old\n";
const char* const kJournal = "b;;new2;;edit\nC;z;;;add\nD;;;;delete\nE;;;;bogus\nA;;;;EDIT\nF;new;;;Add\n";
const char* const kMerged = "A;1;2;3\na;second\nB;1;new2;3;\nC;z;;;;\nF;new;;;;\n";

// A library and a journal for it in a sandbox.
struct PartsTest : ::testing::Test {
    cvtest::FileSandbox box;
    const std::string base = box.write("base.txt", kBase), journal = box.write("journal.txt", kJournal);
    std::string read(const std::string& rel) { return cvtest::FileSandbox::read(box.path(rel)); }
    double applyJournal(const std::string& out, const std::string& in, const std::string& edits, double column) {
        return cvtest::number("ApplyJournal", {strings({out, in, edits}), cvtest::reals({column})});
    }
};

TEST_F(PartsTest, JournalEditsAddsAndDeletes) {
    EXPECT_EQ(applyJournal(box.path("out.txt"), base, journal, 4.7), 5);
    EXPECT_EQ(read("out.txt"), kMerged);
    // The action column is never edited, and a missing journal changes nothing.
    box.write("j2.txt", "A;9;edit;8\n");
    EXPECT_EQ(applyJournal(box.path("out2.txt"), base, box.path("j2.txt"), 2), 6);
    EXPECT_EQ(read("out2.txt").substr(0, 14), "A;9;2;8;\na;9;\n");
    EXPECT_EQ(applyJournal(box.path("out3.txt"), base, box.path("none.txt"), 4), 6);
    EXPECT_EQ(applyJournal(box.path("out4.txt"), box.path("none.txt"), box.path("none.txt"), 4), 0);
    EXPECT_EQ(read("out4.txt"), "");
}

// Links and modes kept on replace: the shared writer's own test, test_atomic_file.cpp.
TEST_F(PartsTest, ReplacingTheInputKeepsItsDataAndAFailedWriteKeepsTheOldFile) {
    EXPECT_EQ(applyJournal(base, base, journal, 4), 5);
    EXPECT_EQ(read("base.txt"), kMerged);

    // A write that fails midway (the file-size limit) leaves the old file.
    box.write("big.txt", std::string(5000, 'x') + "\n");
    box.write("small.txt", "keep;me\n");
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit small = {1000, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    const double failed = applyJournal(box.path("small.txt"), box.path("big.txt"), box.path("none.txt"), 4);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(failed, -1);
    EXPECT_EQ(read("small.txt"), "keep;me\n");

    // Outputs that cannot be written give -1 and leave nothing behind.
    std::filesystem::create_directory(box.path("adir"));
    EXPECT_EQ(applyJournal(box.path("adir"), base, journal, 4), -1);
    EXPECT_EQ(applyJournal("", base, journal, 4), -1);
    EXPECT_EQ(cvtest::number("ApplyJournal", {strings({box.path("x"), base}), cvtest::reals({4})}), -1);
    EXPECT_FALSE(std::filesystem::exists(box.path("x")));
    for (const auto& e : std::filesystem::directory_iterator(box.root()))
        EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
}

// ---------------------------------------------------------------- the selector data

struct SelectorTest : PartsTest {
    std::vector<std::string> files;
    void SetUp() override {
        const std::string recent = std::to_string(int64_t(sp_GetSystemTime()) - 86400);
        files = {box.path("out/selector.txt"),
                 box.write("index.txt", "Q2N2222;;bjt;BJT\nMyDiode;;diode;*** Unknown ***\nNewOne;*;diode;Diodes\n"),
                 box.write("user.txt", "MyDiode;" + recent + "\nOld;0\nQ2N2222;100\n"),
                 box.write("cat.txt",
                           "BJT;[01]Semis|Transistors||\nDiodes;Semis|Diodes|\nSecret;** hidden **|x\n"
                           "*** Unassigned ***;Other\n* All User Models *;User|All\n"
                           "* Recently Added Models *;User|Recent\n"),
                 box.write("catjournal.txt", "Diodes;Semis|Rectifiers;edit\n"),
                 box.write("parts.txt",
                           "R;;passive;Resistors;Resistor;;generic_part\nQ2N2222;;bjt;BJT;;;\nSpy;;;Secret\n"
                           "Cap;;passive;Caps\nTube;;valve;Valves\n"),
                 box.write("partsjournal.txt", "L1;;passive;Inductors;;;;;;add\n")};
        std::filesystem::create_directory(box.path("out"));
        cv::OptionStore::global().set("NewModelLifetime", "10");
    }
    void TearDown() override { cv::OptionStore::global().reset("NewModelLifetime"); }
    double build(std::vector<cv::ValuePtr> more = {}) {
        more.insert(more.begin(), strings(files));
        return cvtest::number("_BuildPartSelectorData", more);
    }
};

TEST_F(SelectorTest, ModelsThenPartsUnderTheirCategoryPaths) {
    EXPECT_EQ(build({str("normal"), str("passive|BJT")}), 8);
    EXPECT_EQ(read("out/selector.txt"),
              "User|All|MyDiode;<MyDiode;;diode;* All User Models *;>;ps_model;\n"
              "User|Recent|MyDiode;<MyDiode;;diode;* Recently Added Models *;>;ps_model;\n"
              "User|All|Q2N2222;<Q2N2222;;bjt;* All User Models *;>;ps_model;\n"
              "[01]Semis|Transistors|Q2N2222;<Q2N2222;;bjt;BJT>;ps_model;\n"
              "Semis|Rectifiers|NewOne;<NewOne;*;diode;Diodes>;ps_model;\n"
              "Other|Resistors|Resistor;<R;;passive;Resistors;Resistor;;generic_part>;generic_part;\n"
              "Other|Caps|Cap;<Cap;;passive;Caps>;ps_model;\n"
              "Other|Inductors|L1;<L1;;passive;Inductors;;;;;;;>;ps_model;\n");
    // A lifetime of a thousand years must not wrap the cut-off into the
    // future: the old model becomes recent too.
    cv::OptionStore::global().set("NewModelLifetime", "400000000");
    EXPECT_EQ(build({str("normal"), str("passive|BJT")}), 9);
    // Without a filter every kind is kept; without the unassigned category
    // its name leads the path.
    box.write("cat.txt", "BJT;Semis\n");
    EXPECT_EQ(build(), 11);
    const std::string all = read("out/selector.txt");
    EXPECT_NE(all.find("\n*** Unassigned ***|Valves|Tube;<Tube;;valve;Valves>;ps_model;\n"), std::string::npos);
}

TEST_F(SelectorTest, CompressedModelsGiveOneEntryPerCategory) {
    EXPECT_EQ(build({str("CompressModels")}), 8);
    const std::string all = read("out/selector.txt");
    EXPECT_NE(all.find("Semis|Rectifiers|Select from Model Library...;<Diodes Model;*;;Diodes;"
                       "Select from Model Library...;NewOne;ps_model_sel>;ps_model_sel;\n"), std::string::npos);
    EXPECT_EQ(all.find("User|"), std::string::npos);
}

TEST_F(SelectorTest, MissingListsAndUnwritableOutputsKeepTheOldFile) {
    box.write("out/selector.txt", "old\n");
    files.pop_back();
    EXPECT_EQ(build(), -2);
    files.push_back(box.path("partsjournal.txt"));
    files[0] = box.path("out");
    EXPECT_EQ(build(), -1);
    files[0] = box.path("out/selector.txt");
    files[5] = files[0];  // the output read as an input before it is replaced
    EXPECT_EQ(build({str(""), str("bjt")}), 6);
    EXPECT_NE(read("out/selector.txt").find("\nOther|old;<old>;ps_model;\n"), std::string::npos);
}

// ---------------------------------------------------------------- the name list

TEST(PartsTreeNames, OneLinePerNameAndAliasWithTheTreePathAndPosition) {
    const Texts lines = {
        "Analog|Op-amps|LM741;<LM741;;;;;;;;LM741A,,UA741>;generic_part;",
        "[02]Passive|Res;<R1;x>;ps_model;",
        "X|lm741;<lm741>;ps_model;",
        "Y|Z;<;;>;;",
        "[unclosed|[]Q;<Q1>;PS_MODEL",
        "",
    };
    EXPECT_EQ(cvtest::texts("ExtractPartsTreeNameList", {strings(lines)}),
              (Texts{"LM741;Analog|Op-amps|LM741|;0;generic", "LM741A;Analog|Op-amps|LM741|;0;generic",
                     "UA741;Analog|Op-amps|LM741|;0;generic", "R1;Passive|Res|;1;model", "Q1;[unclosed|Q|;4;model"}));
    EXPECT_EQ(cvtest::texts("ExtractPartsTreeNameList", {strings({})}), Texts{});
}

TEST(PartsTreeNames, OutputThatOutgrowsMemoryEndsInTheMessage) {
    // A long tree path repeated for every alias: 10^4 aliases of a 10^5-byte
    // path would need a gigabyte.
    std::string aliases;
    for (int k = 0; k < 10000; ++k) aliases += "a" + std::to_string(k) + ",";
    const std::string line = std::string(100000, 'p') + ";<N;;;;;;;;" + aliases + ">;x;";
    cv::OptionStore::global().set("MemoryLimitMB", "64");
    const auto o = cvtest::call("ExtractPartsTreeNameList", {strings({line})});
    cv::OptionStore::global().reset("MemoryLimitMB");
    EXPECT_TRUE(!o.ok && o.error.find("Not enough memory") != std::string::npos) << o.error;
}

}  // namespace
