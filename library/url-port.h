// Ports made from url! values: open, read and write of a url that is not http go through a
// port, whose spec is the url taken apart by the library's url-parser/parse-url and whose
// actor comes from the scheme registered under the url's scheme (system/schemes).
#pragma once

namespace url_port {

// Points url! at the maker below (url::set_make_port). Start-up calls it once the datatypes
// are registered; the parser itself is looked up at each call, so the boot program may make
// it later.
void install();

} // namespace url_port
