// The tree passes around the rewrite fixed point: attribute lowering, tree
// finalisation and group flattening.
#pragma once

#include "syntax/ast.hpp"
#include "transform/config.hpp"
#include "transform/report.hpp"

namespace quorvel::transform::passes {

void lower_attributes(syntax::Ast& ast, syntax::ast::NodeId root, ReportRecorder& recorder);
void finalize_ast(syntax::Ast& ast, syntax::ast::NodeId root, ReportRecorder& recorder);
void flatten_groups(syntax::Ast& ast, syntax::ast::NodeId root, const FlattenGroupsGuards& guards,
                    ReportRecorder& recorder);

}  // namespace quorvel::transform::passes
