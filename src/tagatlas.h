#pragma once

// The tagatlas library: open a .tatl dictionary file and look data elements up in it.
//
//   TatlDict::open(path)       -> Result<TatlDict, TatlError>  (lookup/handle.h)
//   dict.len(), dict.lookup()  -> std::optional<TagView>       (lookup/handle.h, lookup/view.h)
//   find_element(dict, ...)    -> std::optional<FoundElement>  (lookup/elements.h)
//   TatlError                  why a file could not be opened  (lookup/error.h)
//   Fault                      a damaged reference met during a lookup (lookup/fault.h)
//
// Installed, this is <tagatlas/tagatlas.h>, the one header a program includes.
#include "lookup/elements.h"
#include "lookup/error.h"
#include "lookup/fault.h"
#include "lookup/handle.h"
#include "lookup/view.h"
#include "schema/result.h"
