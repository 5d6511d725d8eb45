#include "project/ProjectExport.h"

#include <zip.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "analysis/CoefficientSet.h"
#include "core/AtomicFile.h"
#include "crossover/Bands.h"
#include "project/DesignTexts.h"
#include "project/Driver.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"

namespace tarn {

namespace {

namespace fs = std::filesystem;
using engines::SetFormat;
using engines::Side;

SetFormat SetFormatOf(const ProjectSettings& design) {
    const bool wide = design.precision == 64;
    if (design.format == FileFormat::Wav)
        return wide ? SetFormat::WavFloat64 : SetFormat::WavFloat32;
    return wide ? SetFormat::RawDouble : SetFormat::RawFloat;
}

// Every file of the set, left and right of each band, rate after rate.
std::vector<std::string> SetFiles(const engines::ExportInput& in) {
    std::vector<std::string> names;
    for (int rate : in.set.rates)
        for (const std::string& band : in.set.bands)
            for (Side side : {Side::Left, Side::Right})
                names.push_back(in.set.fileName(band, side, rate, in.set.format));
    return names;
}

// The files of the stored design must all be there; otherwise the message says what is
// missing and which set the directory holds instead.
void CheckFiles(const fs::path& dir, const engines::ExportInput& in) {
    std::vector<std::string> missing;
    for (const std::string& name : SetFiles(in)) {
        std::error_code ec;
        if (!fs::is_regular_file(dir / name, ec)) missing.push_back(name);
    }
    if (missing.empty()) return;
    std::string message = "The files of the stored design are not all in " + dir.string() + ": " +
                          missing.front() + " is missing";
    if (missing.size() > 1) message += " (and " + std::to_string(missing.size() - 1) + " more)";
    message += ".";
    // What the directory holds instead, when that is another rate or format.
    const std::vector<CoefficientSet> sets = FindCoefficientSets(dir);
    const std::string pattern =
        in.set.fileName("*", Side::Left, in.set.rates.front(), in.set.format);
    if (!sets.empty() && sets.front().Pattern() != pattern)
        message += " The newest files there are " + sets.front().Pattern() + " (" +
                   sets.front().Description() + ").";
    throw ExportError(message + " Calculate the crossover, then export again.");
}

// Where the samples of the set's WAV files start; every file must agree, as BruteFIR skips
// the same number of bytes in each.
std::size_t WavDataOffsetOf(const fs::path& dir, const engines::ExportInput& in) {
    constexpr std::size_t HeaderBytes = 4096;
    std::optional<std::size_t> common;
    for (const std::string& name : SetFiles(in)) {
        std::string header(HeaderBytes, '\0');
        std::ifstream file(dir / name, std::ios::binary);
        file.read(header.data(), static_cast<std::streamsize>(header.size()));
        header.resize(static_cast<std::size_t>(file.gcount()));
        const std::optional<std::size_t> offset = engines::WavDataOffset(header);
        if (!offset)
            throw ExportError(name + " is not a WAV file whose samples start within its first " +
                              std::to_string(HeaderBytes) + " bytes.");
        if (common && *common != *offset)
            throw ExportError("The samples of " + name + " start elsewhere than those of " +
                              SetFiles(in).front() + "; BruteFIR needs one offset for all.");
        common = offset;
    }
    return *common;
}

engines::ExportInput InputOf(const fs::path& dir, const ProjectExportOptions& options) {
    const fs::path ini = dir / ProjectIniName;
    std::error_code ec;
    if (!fs::is_regular_file(ini, ec))
        throw ExportError("No design is stored in " + dir.string() + " (no " + ProjectIniName +
                          "): calculate the crossover first, then export.");
    const ProjectSettings design = ProjectSettings::Load(IniFile(ini.string()));

    const int ways = WaysOfFields(design.frequencies);

    engines::ExportInput in;
    for (int i = 0; i + 1 < ways; ++i)
        in.design.frequencies.push_back(design.frequencies[static_cast<std::size_t>(i)]);
    in.design.order = design.filterOrder;
    in.design.alignment = std::string(AlignmentName(design.alignment));
    in.design.minimumPhase = design.minimumPhase;
    in.design.taps = design.taps;

    in.set.projectDirectory = dir.string();
    in.set.rates.clear();
    if (design.sampleRate == AllRates) {
        for (const SampleRateTag& rate : SampleRateTags())
            in.set.rates.push_back(static_cast<int>(rate.rate));
    } else {
        in.set.rates.push_back(design.sampleRate);
    }
    in.set.format = SetFormatOf(design);
    for (const Band& band : BandsFor(ways))
        in.set.bands.emplace_back(band.word);

    in.options.camillaDspVersion = options.camillaDspVersion;
    in.options.captureDevice = options.captureDevice;
    in.options.playbackDevice = options.playbackDevice;
    in.options.bruteFirInput.name = options.captureDevice;
    in.options.bruteFirOutput.name = options.playbackDevice;
    return in;
}

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct SourceFreer {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};

// The zip of the result's entries, in memory: an entry is a file the export is about to
// write (its new content) or a file of the set in dir.
std::string PackZip(const fs::path& dir, const engines::ExportResult& result) {
    auto fail = [&](const std::string& why) {
        return ExportError("Cannot pack " + result.zipName + ": " + why + ".");
    };
    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, SourceFreer> buffer(
        zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!buffer) throw fail(zip_error_strerror(&error));
    std::unique_ptr<zip_t, ZipCloser> archive(
        zip_open_from_source(buffer.get(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    if (!archive) throw fail(zip_error_strerror(&error));
    // The archive took the buffer over; kept alive beyond its closing, to be read.
    zip_source_keep(buffer.get());

    for (const engines::ZipEntry& entry : result.zipEntries) {
        zip_source_t* source = nullptr;
        const engines::GeneratedFile* generated = nullptr;
        for (const engines::GeneratedFile& file : result.files)
            if (file.name == entry.file) generated = &file;
        if (generated)
            source = zip_source_buffer(archive.get(), generated->content.data(),
                                       generated->content.size(), 0);
        else
            source = zip_source_file(archive.get(), (dir / entry.file).c_str(), 0, -1);
        if (!source) throw fail(zip_strerror(archive.get()));
        if (zip_file_add(archive.get(), entry.nameInZip.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            throw fail(zip_strerror(archive.get()));
        }
    }
    // The files are read and compressed here.
    if (zip_close(archive.get()) != 0) throw fail(zip_strerror(archive.get()));
    archive.release();

    zip_source_t* bytes = buffer.get();
    std::string zip;
    if (zip_source_open(bytes) != 0) throw fail(zip_error_strerror(zip_source_error(bytes)));
    if (zip_source_seek(bytes, 0, SEEK_END) == 0) {
        const zip_int64_t size = zip_source_tell(bytes);
        if (size >= 0 && zip_source_seek(bytes, 0, SEEK_SET) == 0) {
            zip.resize(static_cast<std::size_t>(size));
            if (zip_source_read(bytes, zip.data(), zip.size()) != size) zip.clear();
        }
    }
    zip_source_close(bytes);
    if (zip.empty()) throw fail("the packed archive cannot be read back");
    return zip;
}

} // namespace

std::vector<std::string> ExportProject(const fs::path& projectDir,
                                       const ProjectExportOptions& options) {
    fs::path dir = fs::absolute(projectDir).lexically_normal();
    if (!dir.has_filename()) dir = dir.parent_path(); // "speaker/" and "." name no file
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw ExportError(dir.string() + " is not a directory.");
    std::shared_ptr<Directory> project;
    try {
        project = std::make_shared<Directory>(dir);
    } catch (const AtomicFileError& e) {
        throw ExportError("Cannot open the project directory " + dir.string() + ": " + e.what() +
                          ".");
    }
    // Held while the set is read and the configurations written, so no run replaces the set
    // in between.
    LockProject(*project, options.busyWait, project->Path().string());

    engines::ExportInput in = InputOf(dir, options);
    CheckFiles(dir, in);
    const bool wav =
        in.set.format == SetFormat::WavFloat32 || in.set.format == SetFormat::WavFloat64;
    if (options.engine == engines::Engine::BruteFir && wav)
        in.options.wavDataOffset = WavDataOffsetOf(dir, in);
    const engines::ExportResult result = engines::Export(options.engine, in);
    if (!result.Ok()) throw ExportError(result.error);

    std::vector<std::pair<std::string, std::string>> outputs;
    for (const engines::GeneratedFile& file : result.files)
        outputs.emplace_back(file.name, file.content);
    if (!result.zipName.empty()) outputs.emplace_back(result.zipName, PackZip(dir, result));

    // All written beside their targets first: a full disk stops the export before any file
    // has changed. The same writer as the settings file, with the same options.
    std::vector<std::string> names;
    try {
        std::deque<AtomicFile> files;
        for (const auto& [name, content] : outputs)
            files.emplace_back(project, name)
                .Write(content.data(), content.size(),
                       {.keepPermissions = true, .inPlaceFallback = true});
        for (AtomicFile& file : files) {
            file.Commit();
            names.push_back(file.Name());
        }
        project->Sync();
    } catch (const AtomicFileError& e) {
        std::string message = "Cannot export into " + dir.string() + ": " + e.what() + ".";
        for (std::size_t i = 0; i < names.size(); ++i)
            message += (i ? ", " : " Written before the failure: ") + names[i];
        throw ExportError(names.empty() ? message : message + ".");
    }
    return names;
}

} // namespace tarn
