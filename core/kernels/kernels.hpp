// Every pricing kernel in one include.
#pragma once

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/normal.hpp"
#include "kernels/normalised_black.hpp"
#include "kernels/price.hpp"
