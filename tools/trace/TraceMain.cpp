// korvane-trace: traces a program without the window, for scripts and CI, on
// the tracer's own engine, listing and archive writer: the same counts as a
// run from the window with the same kinds and arguments, in an archive that
// the window and archive-tool load. The run itself is CConsoleRun's.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/ArchiveExport.h"
#include "archive/NewArchiveFile.h"
#include "debugger/DebugEngine.h"
#include "debugger/ExceptionReport.h"
#include "framework/UiSeam.h"
#include "listing/ListingGeneration.h"
#include "tools/trace/ConsoleRun.h"
#include "tools/trace/TraceOptions.h"

namespace {

const char kUsage[] =
    "usage: korvane-trace [--kinds LIST] [--out FILE.ar] [--compare BASE.ar] [--csv FILE] [--drcov FILE]\n"
    "                     [--timeout SECONDS] [--quiet] TARGET.exe [ARGS...]\n"
    "Runs TARGET with ARGS under the tracer, from the current directory, and counts its points\n"
    "as the window's \"Start Process\" does.\n"
    "  --kinds LIST       comma-separated: call, callptr, jmp, jmpptr, str (default: str, the\n"
    "                     window's first tick)\n"
    "  --out FILE.ar      the hit archive (default: AR\\TARGET.ar beside this program, where the\n"
    "                     window proposes it)\n"
    "  --compare BASE.ar  count in compare mode against BASE's hits: Comp = BASE's hits - this run's,\n"
    "                     as the window after \"Run Archive\" BASE, then \"Run File\"\n"
    "  --csv FILE         the archive as archive-tool export --csv writes it\n"
    "  --drcov FILE       the archive as archive-tool export --drcov writes it (module: TARGET's path)\n"
    "  --timeout SECONDS  ends the target as \"Cancel Process\" does once SECONDS have passed\n"
    "  --quiet            no progress line (shown only when standard error is a console)\n"
    "The listing is made or reused in AR beside this program, with Korvane.dll from here, as the\n"
    "window makes it. Exit code: the target's own; 124 when --timeout ended it; 125 when the\n"
    "tracing failed (bad arguments, no program, listing or archive problems), after a message.\n";

enum { exitTimedOut = 124, exitFailed = 125 };

// A failure of the tool: said on standard error, exit code 125.
struct ToolFailure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message)
{
    throw ToolFailure{message};
}

// Every box the shared code would show (the listing's, the launch's) is said
// on standard error instead: nothing here ever waits on a user.
class CStandardErrorUi : public IUiSeam {
public:
    int MessageBox(HWND, LPCSTR text, LPCSTR caption, UINT) override
    {
        std::fprintf(stderr, "korvane-trace: %s%s%s\n", caption != NULL ? caption : "", caption != NULL ? ": " : "",
                     text);
        return IDOK;
    }
    BOOL FileDialog(BOOL, OPENFILENAMEA&) override { return FALSE; }
};

class CToolListing : public CTargetListing {
public:
    HWND ListingOwner() const override { return NULL; }
};

CString Directory(const CString& path)
{
    int slash = path.ReverseFind('\\');
    return slash >= 0 ? path.Left(slash) : CString(".");
}

CString FullPath(const std::string& name)
{
    char path[MAX_PATH];
    char* file = NULL;
    DWORD n = ::GetFullPathNameA(name.c_str(), sizeof path, path, &file);
    if (n == 0 || n >= sizeof path)
        Fail(Quoted(name) + ": the path is too long or not valid");
    return CString(path);
}

std::vector<char> FileHead(const CString& path)
{
    std::vector<char> head(4096);
    FILE* file = std::fopen(path, "rb");
    if (file == NULL)
        Fail("cannot open the target " + Quoted(path.Str()));
    head.resize(std::fread(head.data(), 1, head.size(), file));
    std::fclose(file);
    return head;
}

// The counts a compare run starts from: the archive's hits, for an archive of
// this target and listing.
void TakeBaseline(CToolListing& listing, const std::string& path)
{
    CFile file;
    CFileException error;
    if (!file.Open(path.c_str(), CFile::modeRead, &error))
        Fail("cannot open the archive " + Quoted(path) + ": " + error.GetErrorMessage().Str());
    CArchive ar(&file, CArchive::load);
    try {
        if (!ReadArchiveSignature(ar))
            Fail(Quoted(path) + " is not a hit archive");
        HitArchiveHeader header;
        ReadArchiveHeader(ar, header);
        if (header.strTargetName != listing.m_strTargetName)
            Fail(Quoted(path) + " belongs to another target (" + header.strTargetName.Str() + "), not to " +
                 listing.m_strTargetName.Str());
        DWORD size = ::GetFileSize(listing.m_hListingFile, NULL);
        int nSkipped = TakeArchiveBaseline(ar, listing.m_pListing, size, listing);
        if (nSkipped != 0)
            Fail(Quoted(path) + " does not match the listing " + Quoted(listing.ListingPath().Str()) + ": " +
                 std::to_string(nSkipped) + " entries name no point of it");
    } catch (const CArchiveException&) {
        Fail(Quoted(path) + " ends early: the archive is truncated");
    }
}

void SaveArchive(const CToolListing& listing, const CString& targetDir, const TraceOptions& options,
                 const CString& path)
{
    CNewArchiveFile fresh;
    if (!fresh.Create(path))
        Fail("cannot write the archive " + Quoted(path.Str()));
    const int* k = options.kinds;
    HitArchiveHeader header = {listing.m_strTargetName, targetDir, path.Mid(path.ReverseFind('\\') + 1),
                               {k[0], k[1], k[2], k[3], k[4], 0}};
    CArchive ar(&fresh.m_file, CArchive::store);
    StoreArchiveHeader(ar, header);
    StoreArchiveEntries(ar, listing.m_mapAll, listing.m_pListing);
    ar.Close();
    if (!fresh.Place(path))
        Fail("cannot write the archive " + Quoted(path.Str()));
}

// What archive-tool exports from the archive written, with the listing it was written against.
void Export(const std::string& archivePath, const std::string& listingPath, const std::string& out,
            const std::string& module)
{
    ArchiveFile archive(archivePath);
    ArchiveListing listing(listingPath);
    listing.Restore(archive.ar, archive.path);
    FILE* file = std::fopen(out.c_str(), "wb");
    if (file == NULL)
        Fail("cannot write " + Quoted(out));
    if (module.empty())
        ExportCsv(listing, file);
    else
        ExportDrcov(listing, module, file);
    if (std::fclose(file) != 0)
        Fail("cannot write " + Quoted(out));
}

int Trace(const TraceOptions& options)
{
    // The target, its folder and its name as the window keeps them.
    CString target = FullPath(options.target);
    CString targetDir = Directory(target);
    CToolListing listing;
    listing.m_strTargetName = target.Mid(target.ReverseFind('\\') + 1);
    listing.m_strTargetName.MakeLower();
    if (listing.ListingPath().IsEmpty())
        Fail(Quoted(target.Str()) + ": the target must be an .exe or .com program");
    std::string problem = CheckProgramHeader(FileHead(target));
    if (!problem.empty())
        Fail(Quoted(target.Str()) + ": " + problem);

    // Beside this program: the AR folder and the companion disassembler.
    char self[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        Fail("cannot find this program's own folder");
    listing.m_strArchiveDir = Directory(self) + "\\AR\\";
    ::CreateDirectoryA(Directory(self) + "\\AR", NULL);
    CString out = options.out.empty() ? listing.m_strArchiveDir + listing.m_strTargetName.Left(
                                            listing.m_strTargetName.ReverseFind('.')) + ".ar"
                                      : FullPath(options.out);

    // The listing step runs in the target's folder, as on an attach; the run
    // itself from the caller's.
    char callerDir[MAX_PATH];
    if (!::GetCurrentDirectoryA(sizeof callerDir, callerDir) || !::SetCurrentDirectoryA(targetDir))
        Fail("cannot enter the target's folder " + Quoted(targetDir.Str()));
    HANDLE held = ::CreateFileA(listing.ListingPath(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION)
        Fail("the listing " + Quoted(listing.ListingPath().Str()) +
             " is in use (a window with this target attached?); it cannot be used meanwhile");
    if (held != INVALID_HANDLE_VALUE)
        ::CloseHandle(held);
    int loaded = listing.LoadListing(0);
    ::SetCurrentDirectoryA(callerDir);
    if (!loaded)
        Fail("no listing of the target: nothing was traced");

    CTraceState state;
    const int* k = options.kinds;
    state.m_bCallPtr = k[0];
    state.m_bCall = k[1];
    state.m_bJmpPtr = k[2];
    state.m_bJmp = k[3];
    state.m_bStrData = k[4];
    state.m_bPauseOnStop = 1; // a live run, as after "Start Process"
    const BOOL bCompare = !options.compare.empty();
    if (bCompare)
        TakeBaseline(listing, FullPath(options.compare).Str());
    else
        listing.ResetCounts(FALSE);

    DWORD mode = 0;
    bool progress = !options.quiet && ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode);
    CConsoleRun run(target, TargetCommandLine(listing.m_strTargetName.Str(), options.arguments).c_str(), state,
                    bCompare, options.timeoutMs, progress);
    ::SetDebugErrorLevel(0);
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    CDebugEngine engine(state, listing, run);
    engine.Run();
    run.EndProgress();
    if (!run.m_bLaunched)
        Fail("the target could not be started: nothing was traced");

    int status = static_cast<int>(g_dwExitCode);
    if (state.m_bExited == 0 && state.m_dwExceptionCode != 0)
        std::fprintf(stderr, "korvane-trace: The process has terminated abnormally!\n%s\n",
                     FormatRegisterReport(state.m_dwExceptionCode, state.m_pExceptionContext, state.m_dwImageShift,
                                          state.m_dwFaultAddress)
                         .GetString());
    if (state.m_bListingOutside) {
        std::fprintf(stderr, "korvane-trace: %s\n", FormatListingOutside(listing.m_strTargetName).GetString());
        status = exitFailed;
    }
    if (state.m_dwUnrewoundThread != 0) {
        std::fprintf(stderr, "korvane-trace: %s\n",
                     FormatUnrewound(state.m_dwUnrewoundThread, state.m_dwUnrewoundAt).GetString());
        status = exitFailed;
    }
    if (run.m_bTimedOut && status != exitFailed)
        status = exitTimedOut;
    else if (!state.m_bExited && status != exitFailed)
        status = exitFailed; // the loop ended without the target's exit: it could not be ended

    SaveArchive(listing, targetDir, options, out);
    CString listingPath = listing.ListingPath();
    listing.CloseListing();
    if (!options.csv.empty())
        Export(out.Str(), listingPath.Str(), options.csv, "");
    if (!options.drcov.empty())
        Export(out.Str(), listingPath.Str(), options.drcov, target.Str());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    TraceOptions options;
    std::string problem = ParseTraceOptions(argc, argv, options);
    if (!problem.empty()) {
        std::fprintf(stderr, "korvane-trace: %s\n%s", problem.c_str(), kUsage);
        return exitFailed;
    }
    CStandardErrorUi ui;
    AfxSetUiSeam(&ui);
    try {
        return Trace(options);
    } catch (const ToolFailure& failure) {
        std::fprintf(stderr, "korvane-trace: %s\n", failure.message.c_str());
    } catch (const ArchiveInputError& failure) {
        std::fprintf(stderr, "korvane-trace: %s\n", failure.message.c_str());
    } catch (const CException& e) {
        std::fprintf(stderr, "korvane-trace: %s\n", e.GetErrorMessage().GetString());
    }
    return exitFailed;
}
