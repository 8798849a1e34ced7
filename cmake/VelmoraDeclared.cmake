# The functions that the public header declares for export, in header order:
#   velmora_declared_functions(<header> <out-var>)
# The header is the one list of exports; tests derive everything else from it.
function(velmora_declared_functions header out_var)
  file(READ "${header}" text)
  string(REGEX MATCHALL "VELMORA_API[^;(]*velmora_[A-Za-z0-9_]+[ ]*\\(" decls "${text}")
  set(names "")
  foreach(d IN LISTS decls)
    string(REGEX MATCH "velmora_[A-Za-z0-9_]+" name "${d}")
    list(APPEND names "${name}")
  endforeach()
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()
