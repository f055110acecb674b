#include "parse/context.hpp"

#include <atomic>

namespace quorvel::parse {
namespace {

std::atomic<std::uint64_t> NEXT_PARSE_CONTEXT_ID{1};

using knowledge::AllowedMode;

// Inserts a declared item into the knowledge base of one lane (math or text),
// skipping commands and environments not allowed there.
std::optional<knowledge::ArgSpecParseError> insert_item_into_lane(KnowledgeBase& kb, const ContextItem& item,
                                                                  ContentMode lane) {
    if (item.kind == ContextItem::Kind::DelimiterControl) {
        kb.insert_delimiter_control(item.item.name);
        return std::nullopt;
    }
    const CommandItem& c = item.item;
    if ((c.allowed_mode == AllowedMode::Math && lane == ContentMode::Text) ||
        (c.allowed_mode == AllowedMode::Text && lane == ContentMode::Math)) {
        return std::nullopt;
    }
    if (item.kind == ContextItem::Kind::Command) {
        return kb.insert_command({c.name, c.argspec, c.tags, static_cast<knowledge::CommandKind>(c.kind_or_body),
                                  c.allowed_mode});
    }
    return kb.insert_environment(
        {c.name, c.argspec, c.tags, c.allowed_mode, static_cast<ContentMode>(c.kind_or_body)});
}

}  // namespace

std::string ContextBuildError::to_string() const {
    if (const auto* p = std::get_if<knowledge::PackageLoadError>(&value)) return p->to_string();
    const auto& bad = std::get<InvalidContextItem>(value);
    return "invalid context item " + bad.name + ": " + bad.error.to_string();
}

knowledge::Expected<std::vector<knowledge::PackageName>, knowledge::PackageLoadError>
canonical_enabled_package_names(std::span<const std::string_view> names) {
    std::vector<knowledge::PackageName> out;
    for (knowledge::PackageName p : knowledge::MANAGED_PACKAGE_IMPORT_ORDER) {
        const std::string_view text = knowledge::to_string(p);
        for (std::string_view n : names) {
            if (n == text) {
                out.push_back(p);
                break;
            }
        }
    }
    for (std::string_view n : names) {
        if (!knowledge::package_name_from_str(n)) {
            return knowledge::PackageLoadError{knowledge::PackageLoadError::Kind::UnknownPackage, std::string(n)};
        }
    }
    return out;
}

ParseContextBuilder ParseContextBuilder::empty() {
    ParseContextBuilder b;
    b.selection_ = Selection::Empty;
    return b;
}

ParseContextBuilder& ParseContextBuilder::packages(std::vector<std::string> names) {
    selection_ = Selection::Explicit;
    explicit_names_ = std::move(names);
    return *this;
}

ParseContextBuilder& ParseContextBuilder::item(ContextItem item) {
    ops_.push_back({Op::Kind::AddItem, std::move(item)});
    return *this;
}

ParseContextBuilder& ParseContextBuilder::remove_command(std::string name) {
    ops_.push_back({Op::Kind::RemoveCommand, ContextItem::delimiter_control(std::move(name))});
    return *this;
}

ParseContextBuilder& ParseContextBuilder::remove_environment(std::string name) {
    ops_.push_back({Op::Kind::RemoveEnvironment, ContextItem::delimiter_control(std::move(name))});
    return *this;
}

ParseContextBuilder& ParseContextBuilder::remove_delimiter_control(std::string name) {
    ops_.push_back({Op::Kind::RemoveDelimiterControl, ContextItem::delimiter_control(std::move(name))});
    return *this;
}

knowledge::Expected<std::shared_ptr<const ParseContext>, ContextBuildError> ParseContextBuilder::build() const {
    std::shared_ptr<ParseContext> ctx(new ParseContext());
    KnowledgeBase math;
    KnowledgeBase text;

    if (selection_ != Selection::Empty) {
        std::vector<std::string_view> names;
        if (selection_ == Selection::Default) {
            names.assign(std::begin(DEFAULT_PACKAGES), std::end(DEFAULT_PACKAGES));
        } else {
            names.assign(explicit_names_.begin(), explicit_names_.end());
        }
        auto packages = canonical_enabled_package_names(names);
        if (!packages) return ContextBuildError{std::move(packages).error()};
        ctx->packages_ = std::move(packages).value();

        auto m = KnowledgeBase::try_build_from_packages_for_mode(names, ContentMode::Math);
        if (!m) return ContextBuildError{std::move(m).error()};
        auto t = KnowledgeBase::try_build_from_packages_for_mode(names, ContentMode::Text);
        if (!t) return ContextBuildError{std::move(t).error()};
        math = std::move(m).value();
        text = std::move(t).value();
    }

    for (const Op& op : ops_) {
        const std::string& name = op.item.item.name;
        switch (op.kind) {
            case Op::Kind::AddItem: {
                if (op.item.kind == ContextItem::Kind::Command) ctx->mutations_.commands.insert(name);
                if (op.item.kind == ContextItem::Kind::Environment) ctx->mutations_.environments.insert(name);
                for (ContentMode lane : {ContentMode::Math, ContentMode::Text}) {
                    auto err = insert_item_into_lane(lane == ContentMode::Math ? math : text, op.item, lane);
                    if (err) return ContextBuildError{ContextBuildError::InvalidContextItem{name, std::move(*err)}};
                }
                break;
            }
            case Op::Kind::RemoveCommand:
                ctx->mutations_.commands.insert(name);
                math.remove_command_by_name(name);
                text.remove_command_by_name(name);
                break;
            case Op::Kind::RemoveEnvironment:
                ctx->mutations_.environments.insert(name);
                math.remove_environment_by_name(name);
                text.remove_environment_by_name(name);
                break;
            case Op::Kind::RemoveDelimiterControl:
                math.remove_delimiter_by_key(name, true);
                text.remove_delimiter_by_key(name, true);
                break;
        }
    }

    for (std::string_view name : text.command_names_of_kind(knowledge::CommandKind::Infix)) {
        const auto* in_text = text.lookup_command(name);
        const auto* in_math = math.lookup_command(name);
        if (in_text != nullptr && in_text->kind == knowledge::CommandKind::Infix &&
            (in_math == nullptr || in_math->kind != knowledge::CommandKind::Infix)) {
            ctx->text_only_infix_ = true;
        }
    }
    ctx->math_ = std::make_shared<const KnowledgeBase>(std::move(math));
    ctx->text_ = std::make_shared<const KnowledgeBase>(std::move(text));
    ctx->id_ = NEXT_PARSE_CONTEXT_ID.fetch_add(1, std::memory_order_relaxed);
    return std::shared_ptr<const ParseContext>(std::move(ctx));
}

const ActiveCommandRecord* ParseContext::lookup_command(std::string_view name, ContentMode mode) const noexcept {
    if (const auto* record = knowledge(mode).lookup_command(name)) return record;
    if (const auto* record = knowledge::escaped_command(name)) return record;
    return mode == ContentMode::Math ? math_->lookup_delimiter_command(name) : nullptr;
}

bool ParseContext::knows_command_name(std::string_view name) const noexcept {
    return lookup_command(name, ContentMode::Math) || lookup_command(name, ContentMode::Text);
}
bool ParseContext::knows_env_name(std::string_view name) const noexcept {
    return math_->lookup_env(name) || text_->lookup_env(name);
}
bool ParseContext::knows_character_name(std::string_view name) const noexcept {
    return math_->lookup_character(name) || text_->lookup_character(name);
}
bool ParseContext::is_delimiter_control(std::string_view name) const noexcept {
    return math_->lookup_delimiter(name, true) || text_->lookup_delimiter(name, true);
}

}  // namespace quorvel::parse
