// Writes a static test site for bench/site_bench: pages linking pages in a
// tree of fan-out 8 from index.html (so every page is within three links of
// it), plus random cross links, and images of realistic sizes referenced by
// src= (some by href=, some from several pages). The same seed gives the same
// site, byte for byte.
//
//   make_site DIR [--pages N] [--images M] [--seed S]

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

/// splitmix64: small, fast and the same everywhere, unlike std::*_distribution.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    /// Uniform in [0, bound).
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }
    /// Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    std::uint64_t state_;
};

struct Options {
    std::string directory;
    std::size_t pages = 500;
    std::size_t images = 3000;
    std::uint64_t seed = 20070514;
};

constexpr std::size_t fan_out = 8;
constexpr std::size_t sections = 10;

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--pages" && has_value)
            options.pages = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--images" && has_value)
            options.images = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--seed" && has_value)
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!arg.starts_with("--") && options.directory.empty())
            options.directory = arg;
        else
            return false;
    }
    return !options.directory.empty() && options.pages >= 1;
}

/// Page 0 is index.html; the others are spread over a few sections, so that
/// links climb with "../" as on a real site.
std::string page_path(std::size_t page) {
    if (page == 0)
        return "index.html";
    return "section-" + std::to_string(page % sections) + "/page-" + std::to_string(page) + ".html";
}

struct Image {
    std::string path; ///< from the site's root, without a leading "/"
    std::size_t size;
    char kind; ///< 'g' GIF, 'j' JPEG
};

std::vector<Image> plan_images(std::size_t count, Random& random) {
    std::vector<Image> images;
    images.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        // From 2 KB to 200 KB, small ones the most common (log scale, skewed
        // to the small end): about 33 KB on average.
        const double position = std::pow(random.unit(), 1.35);
        const auto size = static_cast<std::size_t>(2'000.0 * std::pow(100.0, position));
        const std::size_t roll = random.below(10);
        const char* extension = roll < 4 ? ".gif" : roll < 9 ? ".jpg" : ".jpeg";
        images.push_back(
            {"img/" + std::to_string(i % 16) + "/photo-" + std::to_string(i) + extension, size, roll < 4 ? 'g' : 'j'});
    }
    return images;
}

/// A header that file(1) would recognise, then random bytes. Bodies are
/// 2 KB or more, so no error-page test ever looks at them.
std::string image_bytes(const Image& image, Random& random) {
    std::string bytes;
    bytes.reserve(image.size + 8);
    const auto width = static_cast<char>(64 + random.below(128));
    if (image.kind == 'g') {
        bytes.append("GIF89a", 6);
        bytes.append({width, 1, width, 1, static_cast<char>(0xF7), 0, 0});
    } else {
        bytes.append("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
    }
    while (bytes.size() + 8 <= image.size) {
        const std::uint64_t word = random.next();
        bytes.append(reinterpret_cast<const char*>(&word), 8);
    }
    bytes.resize(image.size, '\0');
    if (image.kind == 'g')
        bytes.back() = 0x3B;
    else
        bytes.replace(bytes.size() - 2, 2, "\xFF\xD9");
    return bytes;
}

/// Some prose between the references, so that scanning has text to skip.
std::string filler(Random& random) {
    static const char* const words[] = {"la",        "lumière", "du",      "matin",  "sur",      "les",
                                        "jardins",   "photo",   "galerie", "voyage", "montagne", "mer",
                                        "printemps", "été",     "ciel",    "vieux",  "port",     "et"};
    std::string text = "<p>";
    const std::size_t count = 40 + random.below(160);
    for (std::size_t i = 0; i < count; ++i) {
        text += words[random.below(std::size(words))];
        text += i + 1 == count ? ".</p>\n" : " ";
    }
    return text;
}

/// The reference to `target` (a path from the root) written on page `page`:
/// relative, climbing out of the page's section, or from the root.
std::string reference(std::size_t page, const std::string& target, Random& random) {
    if (random.below(5) == 0)
        return "/" + target;
    return page == 0 ? target : "../" + target;
}

std::string page_html(std::size_t page, const Options& options, const std::vector<std::vector<std::size_t>>& shown,
                      const std::vector<Image>& images, Random& random) {
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Page " + std::to_string(page) +
                       "</title>\n<link rel=\"stylesheet\" href=\"" + reference(page, "style.css", random) +
                       "\"></head>\n<body>\n<h1>Page " + std::to_string(page) + "</h1>\n";
    html += filler(random);
    for (const std::size_t image : shown[page]) {
        const std::string target = reference(page, images[image].path, random);
        // One image in eight is a thumbnail that links to the image itself.
        if (random.below(8) == 0)
            html += "<a href=\"" + target + "\"><img src=\"" + target + "\" width=\"120\"></a>\n";
        else
            html += "<img src=\"" + target + "\" alt=\"photo " + std::to_string(image) + "\">\n";
        if (random.below(3) == 0)
            html += filler(random);
    }
    html += "<ul>\n";
    for (std::size_t child = page * fan_out + 1; child <= page * fan_out + fan_out && child < options.pages; ++child)
        html += "<li><a href=\"" + reference(page, page_path(child), random) + "\">suite " + std::to_string(child) +
                "</a></li>\n";
    for (int cross = 0; cross < 3; ++cross) {
        const std::size_t other = random.below(options.pages);
        html += "<li><a href=\"" + reference(page, page_path(other), random) + "\">voir aussi</a></li>\n";
    }
    html += "</ul>\n";
    html += filler(random);
    html += "<p><a href=\"" + reference(page, "index.html", random) +
            "#haut\">accueil</a> <a href=\"mailto:x@y.z\">"
            "écrire</a></p>\n</body></html>\n";
    return html;
}

void write(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::cerr << "usage: make_site DIR [--pages N] [--images M] [--seed S]\n";
        return 2;
    }
    Random random(options.seed);
    const std::vector<Image> images = plan_images(options.images, random);

    // Every image is shown on one page; one in twenty is shown on a second one too.
    std::vector<std::vector<std::size_t>> shown(options.pages);
    for (std::size_t i = 0; i < images.size(); ++i) {
        shown[i % options.pages].push_back(i);
        if (random.below(20) == 0)
            shown[random.below(options.pages)].push_back(i);
    }

    try {
        const std::filesystem::path root = options.directory;
        std::size_t page_bytes = 0;
        for (std::size_t page = 0; page < options.pages; ++page) {
            const std::string html = page_html(page, options, shown, images, random);
            page_bytes += html.size();
            write(root / page_path(page), html);
        }
        write(root / "style.css", "body { font-family: sans-serif; }\n");
        std::size_t image_bytes_total = 0;
        for (const Image& image : images) {
            write(root / image.path, image_bytes(image, random));
            image_bytes_total += image.size;
        }
        std::printf("%zu pages (%.1f MB), %zu images (%.1f MB) in %s\n", options.pages, page_bytes / 1e6, images.size(),
                    image_bytes_total / 1e6, options.directory.c_str());
    } catch (const std::exception& error) {
        std::cerr << "make_site: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
