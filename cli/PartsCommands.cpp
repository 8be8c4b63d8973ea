#include <filesystem>

#include "cli/Commands.h"
#include "engine/ZipExceptions.h"

namespace cli {

namespace {

// Has engine copy the archive source into output and reports the result; a
// failure leaves nothing of the output.
int Copy(Session& session, TZipWriter& engine, const std::string& source, const std::string& output)
{
    session.SetCancel([&engine] {
        if (engine.Working())
            engine.RequestCancel();
    });
    engine.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
    engine.OnTotalPercentDone = [&session](TZipReader&, int percent) { session.Line().Percent(percent); };
    engine.SetZipName(source);
    session.Line().Start({source});
    session.Line().Archive(source);
    int entries = 0;
    try {
        entries = engine.CopyArchive(output);
    } catch (const EUserCanceled&) {
        throw;
    } catch (const ENotAZipFile&) {
        session.Problem(source + ": not a zip archive (of a set in parts, give its last part); nothing written");
        return ExitStopped;
    } catch (const EDamagedDirectory& e) {
        session.Problem(std::string(e.what()) + "; nothing written");
        return ExitStopped;
    } catch (const Exception& e) {
        session.Problem(source + ": " + e.what() + "; nothing written");
        return ExitStopped;
    }
    session.CheckInterrupted();
    session.Print(output + ": " + std::to_string(entries) + (entries == 1 ? " entry" : " entries"));
    return session.Status();
}

void RefuseExisting(const std::string& file)
{
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, ec)))
        throw UsageError(file + " exists; give a name that does not");
}

}  // namespace

int RunJoin(Session& session, const std::string& set, const std::string& out)
{
    RefuseExisting(out);
    TZipWriter engine;
    return Copy(session, engine, set, out);
}

int RunSplit(Session& session, const std::string& archive, int64_t size, const std::string& base)
{
    const std::string last = base + ".zip";
    RefuseExisting(last);
    TZipWriter engine;
    engine.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
    engine.MultiZipInfo.BlockSize = engine.MultiZipInfo.FirstBlockSize = size;
    engine.OnFileNameForSplitPart = TZipFile::NamePeerPart;
    return Copy(session, engine, archive, last);
}

}  // namespace cli
