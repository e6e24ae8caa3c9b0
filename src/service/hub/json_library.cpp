// Boost.JSON's compiled part, built once for the whole program.
#include <boost/json/src.hpp>
