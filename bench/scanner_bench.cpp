#include "engine/page_scanner.h"

#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <string>
#include <string_view>

namespace {

const std::string page_address = "http://bench.test/gallery/index.html";

constexpr std::array<std::string_view, 24> words{
    "the",   "quick",   "garden", "photos", "summer", "river", "under",   "bridge", "light",  "evening", "old",  "town",
    "about", "contact", "news",   "winter", "market", "with",  "friends", "large",  "window", "street",  "blue", "sky"};

void append_words(std::string& out, std::mt19937& random, int count) {
    for (int i = 0; i < count; ++i) {
        out += words[random() % words.size()];
        out += ' ';
    }
}

// A block of ordinary markup: attributes with "=" everywhere, text, and no
// references unless asked.
void append_block(std::string& out, std::mt19937& random, int number, bool with_references) {
    out += "<div class=\"col-md-4 card item-";
    out += std::to_string(number % 97);
    out += "\" id=\"block-";
    out += std::to_string(number);
    out += "\" style=\"margin:0 auto;padding:4px 8px;color:#333\">\n  <h3 class=\"title\">";
    append_words(out, random, 4);
    out += "</h3>\n  <p class=\"lead text-muted\" data-index=\"";
    out += std::to_string(number);
    out += "\">";
    append_words(out, random, 40);
    out += "</p>\n  <span title=\"";
    append_words(out, random, 3);
    out += "\" lang=\"fr\">";
    append_words(out, random, 6);
    out += "</span>\n  <table width=\"100%\" border=\"0\" cellpadding=\"2\"><tr><td align=\"left\" valign=\"top\">";
    append_words(out, random, 8);
    out += "</td></tr></table>\n  <input type=\"text\" name=\"q";
    out += std::to_string(number % 13);
    out += "\" value=\"\" size=\"20\">\n";
    if (with_references) {
        out += "  <a href=\"article-";
        out += std::to_string(number);
        out += ".html\" class=\"more\">suite</a> <img src=\"images/p";
        out += std::to_string(number);
        out += ".jpg\" alt=\"\" width=\"120\" height=\"90\">\n";
    }
    out += "</div>\n";
}

std::string ordinary_page(std::size_t size) {
    std::mt19937 random(20240611);
    std::string page = "<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\"><title>Galerie</title>"
                       "<link rel=\"stylesheet\" href=\"style.css\"></head>\n<body class=\"home\">\n";
    for (int number = 0; page.size() < size; ++number)
        append_block(page, random, number, number % 500 == 0); // about one reference per 300 KB
    page += "</body></html>\n";
    return page;
}

std::string page_of_many_references(int links, int images) {
    std::string page = "<html><head><title>Index</title></head><body>\n<ul class=\"list\">\n";
    for (int i = 0; i < links || i < images; ++i) {
        if (i < links)
            page += "<li class=\"entry\"><a href=\"albums/album" + std::to_string(i) + ".html\">Album " +
                    std::to_string(i) + "</a>";
        if (i < images)
            page += " <img src=\"thumbs/t" + std::to_string(i) + ".jpg\" alt=\"vignette\" width=\"80\"></li>\n";
    }
    page += "</ul></body></html>\n";
    return page;
}

// The argument: 1 with every image format, 0 without.
void BM_OrdinaryMarkup(benchmark::State& state) {
    const std::string page = ordinary_page(10 * 1024 * 1024);
    for (auto _ : state) {
        RunLists lists;
        m_qmr::scan_page_text(page, page_address, {}, {}, lists, state.range(0) != 0);
        benchmark::DoNotOptimize(lists.pages.count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_OrdinaryMarkup)->ArgName("all_formats")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FullLists(benchmark::State& state) {
    const std::string page = page_of_many_references(AddressList::capacity, AddressList::capacity);
    for (auto _ : state) {
        RunLists lists;
        m_qmr::scan_page_text(page, page_address, {}, {}, lists, state.range(0) != 0);
        if (lists.pages.count() != AddressList::capacity || lists.images.count() != AddressList::capacity) {
            state.SkipWithError("the page did not fill both lists");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_FullLists)->ArgName("all_formats")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What a server may send to slow the scan down: keywords whose values never
// end, each searched for an end as far as a value may reach.
void BM_ValuesWithoutEnd(benchmark::State& state) {
    std::string page;
    while (page.size() < 10 * 1024 * 1024)
        page += "src=srcset=x";
    for (auto _ : state) {
        RunLists lists;
        m_qmr::scan_page_text(page, page_address, {}, {}, lists, state.range(0) != 0);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_ValuesWithoutEnd)->ArgName("all_formats")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
