#include "app/run_report.h"

#include "engine/extraction_run.h"

namespace {

/// "1 page n'a pas pu être lue (réseau)", "2 images n'ont pas pu être
/// écrites dans « /x » (disque)": both nouns are feminine.
std::string clause(int count, const char* noun, const char* participle, const std::string& complement,
                   const char* kind) {
    const bool plural = count > 1;
    return std::to_string(count) + " " + noun + (plural ? "s n'ont" : " n'a") + " pas pu être " + participle +
           (plural ? "s" : "") + complement + " (" + kind + ")";
}

} // namespace

std::string run_summary(const RunCounters& counters, std::string_view destination) {
    const std::string written_in = " dans « " + std::string(destination) + " »";
    const struct {
        int count;
        const char* noun;
        const char* participle;
        std::string complement;
        const char* kind;
    } kinds[] = {
        {counters.failed_pages.network, "page", "lue", "", "réseau"},
        {counters.failed_pages.server, "page", "lue", "", "réponse d'erreur du serveur"},
        {counters.failed_pages.disk, "page", "lue", "", "disque"},
        {counters.failed_images.network, "image", "téléchargée", "", "réseau"},
        {counters.failed_images.server, "image", "téléchargée", "", "réponse d'erreur du serveur"},
        {counters.failed_images.disk, "image", "écrite", written_in, "disque"},
    };
    std::string summary;
    for (const auto& kind : kinds) {
        if (kind.count > 0)
            summary += (summary.empty() ? "" : " ; ") +
                       clause(kind.count, kind.noun, kind.participle, kind.complement, kind.kind);
    }
    if (const int unchanged = counters.images_unchanged; unchanged > 0)
        summary +=
            (summary.empty() ? "" : " ; ") + std::to_string(unchanged) +
            (unchanged > 1 ? " images inchangées, laissées telles quelles" : " image inchangée, laissée telle quelle");
    return summary.empty() ? summary : summary + ".";
}

bool run_incomplete(const RunCounters& counters) {
    return counters.start_page_failed || counters.failed_images.disk > 0;
}
