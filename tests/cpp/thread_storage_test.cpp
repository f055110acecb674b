// A prepared thread needs no allocation for its own storage: every cache a
// call uses on it lives in the thread-local block, and one end-of-thread
// registration, made up front, destroys them all. Caches used again while the
// thread ends are made anew rather than read after their destruction.
#include <dlfcn.h>
#include <pthread.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "facade/transform_engine.hpp"
#include "syntax/document.hpp"
#include "syntax/node_ref.hpp"
#include "util/thread_storage.hpp"

namespace {

// Registrations of thread-local destructors made by the calling thread. The
// counter itself is in the program's static block, which needs none.
constinit thread_local int registrations = 0;

}  // namespace

// Every thread-local destructor of the program and of the library under test
// is registered through here; each registration allocates, and the C library
// ends the process when it cannot.
extern "C" int __cxa_thread_atexit(void (*destructor)(void*), void* object, void* dso) noexcept {
    using Real = int (*)(void (*)(void*), void*, void*) noexcept;
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "__cxa_thread_atexit"));
    ++registrations;
    return real(destructor, object, dso);
}

namespace quorvel {
namespace {

using facade::EngineProfile;
using facade::TransformEngine;
using facade::TransformEngineBuilder;

const TransformEngine& engine(EngineProfile profile) {
    static const std::vector<TransformEngine> engines = [] {
        std::vector<TransformEngine> out;
        for (EngineProfile p :
             {EngineProfile::Authoring, EngineProfile::Faithful, EngineProfile::Corpus, EngineProfile::Equiv}) {
            TransformEngineBuilder builder;
            builder.profile(p);
            auto built = builder.build();
            if (!built) throw std::runtime_error(built.error().message());
            out.push_back(std::move(built).value());
        }
        return out;
    }();
    return engines[static_cast<std::size_t>(profile)];
}

// Formulas whose normalisation inserts, removes and reorders list items, and
// drops whole subtrees.
const std::vector<std::string> kFormulas = {
    "a \\not= b \\not\\in c",
    "\\sum\\limits_{i=1}^{n} x_i \\int\\nolimits f",
    "a\\quad\\quad b \\enspace\\enspace c \\, d",
    "\\root 3 \\of x + \\sqrt[3]{y}",
    "\\buildrel a \\over b",
    "{{x}} + \\frac{a}{b} \\over c",
    "\\left( \\mathrm{d} x \\right) \\text{a\\enspace\\enspace b}",
    "\\begin{pmatrix} a & b \\\\ c & d \\end{pmatrix}",
    "x^{2}_{i}' + \\mathcal{F}_{\\mathbf{k}}",
    "x^",
};

std::string repeat(const std::string& unit, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += unit;
    return out;
}

// Everything a call from Python can reach, in one run; the result is what
// the run produced, to compare between threads.
std::string work() {
    std::string out;
    for (EngineProfile profile :
         {EngineProfile::Authoring, EngineProfile::Faithful, EngineProfile::Corpus, EngineProfile::Equiv}) {
        const TransformEngine& e = engine(profile);
        for (const std::string& source : kFormulas) {
            auto normalised = e.normalize_with(source, e.default_normalize_config());
            out += normalised ? *normalised : "error: " + normalised.error().message();
            out += '\n';
        }
    }
    const facade::Parser& parser = engine(EngineProfile::Authoring).parser();
    parse::ParseConfig deep;
    deep.max_group_depth = 1'000'000;
    // Deep enough to continue on stack segments on the test's threads.
    const std::string nested = repeat("\\frac{", 1'000) + "x" + repeat("}{y}", 1'000);
    for (const std::string& source : {repeat("x_{i}+", 2'000), nested, std::string("\\frac{a}{b} {c+d} e")}) {
        auto parsed = parser.parse_with(source, deep);
        if (!parsed.document) {
            out += "no document\n";
            continue;
        }
        syntax::document::Document& document = *parsed.document;
        (void)document.to_syntax();
        if (source.size() < 100) {
            out += std::to_string(document.node_spans().size());
            for (const syntax::NodeRef& frac : document.find_commands("frac"))
                out += document.remove(frac.handle()) ? "removed" : "kept";
        }
        auto latex = document.to_latex();
        out += latex ? std::to_string(latex->size()) : "unwritable";
        out += '\n';
    }
    return out;
}

// Runs `body` on a new thread with a small stack, so that moderate nesting
// already continues on stack segments.
void on_new_thread(std::function<void()> body) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, std::size_t{512} * 1024), 0);
    pthread_t thread;
    auto start = [](void* p) -> void* {
        (*static_cast<std::function<void()>*>(p))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, start, &body), 0);
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
}

TEST(ThreadStorage, PreparedThreadRegistersNothingMore) {
    const std::string expected = work();
    struct Case {
        const char* name;
        std::function<void()> before;  // what the thread did before the run
    };
    const Case cases[] = {
        {"fresh thread", [] {}},
        {"after an earlier run", [] { (void)work(); }},
        {"prepared twice", [] { util::prepare_thread(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        on_new_thread([&] {
            ASSERT_EQ(registrations, 0);
            util::prepare_thread();
            EXPECT_EQ(registrations, 1);
            c.before();
            const int before = registrations;
            EXPECT_EQ(work(), expected);
            EXPECT_EQ(registrations, before);
        });
    }
    // Unprepared, the first cache a call uses registers instead, once.
    on_new_thread([&] {
        EXPECT_EQ(work(), expected);
        EXPECT_EQ(registrations, 1);
    });
}

// A value that counts what happens to it.
struct Tally {
    static inline int made = 0;
    static inline int destroyed = 0;
    int uses = 0;
    Tally() noexcept { ++made; }
    ~Tally() { ++destroyed; }
};

constinit thread_local util::ThreadCache<Tally> tally;

// Runs `use` from a thread-local destructor: the object is made before any
// cache of its thread, so it is destroyed after them.
struct AtThreadEnd {
    std::function<void()> use;
    ~AtThreadEnd() {
        if (use) use();
    }
};

TEST(ThreadStorage, CachesLiveUntilTheThreadEndsAndComeBackAfter) {
    struct Case {
        const char* name;
        int uses_before_end;
        bool used_while_ending;
        int made;
        int destroyed;
    };
    const Case cases[] = {
        {"never used", 0, false, 0, 0},
        {"used", 3, false, 1, 1},
        {"used only while ending", 0, true, 1, 1},
        {"used before and while ending", 2, true, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tally::made = Tally::destroyed = 0;
        int uses_seen_while_ending = -1;
        on_new_thread([&] {
            thread_local AtThreadEnd late;
            if (c.used_while_ending) late.use = [&] { uses_seen_while_ending = tally->uses++; };
            for (int i = 0; i < c.uses_before_end; ++i) ++tally->uses;
            EXPECT_EQ(Tally::destroyed, 0);
        });
        EXPECT_EQ(Tally::made, c.made);
        EXPECT_EQ(Tally::destroyed, c.destroyed);
        // Made anew: nothing of the destroyed one is read.
        if (c.used_while_ending) {
            EXPECT_EQ(uses_seen_while_ending, 0);
        }
    }
}

TEST(ThreadStorage, CallsWhileTheThreadEndsMatchFreshThreads) {
    const std::string expected = work();
    std::optional<std::string> late_result;
    on_new_thread([&] {
        thread_local AtThreadEnd late;
        late.use = [&] { late_result = work(); };
        util::prepare_thread();
        EXPECT_EQ(work(), expected);
    });
    ASSERT_TRUE(late_result.has_value());
    EXPECT_EQ(*late_result, expected);
}

}  // namespace
}  // namespace quorvel
