/* Resources of Tidestart.exe, shared by the resource script and the code
   that loads them (plain #defines: the resource compiler reads this too). */
#pragma once

#define TIDE_IDI_PRODUCT 101     /* the product icon (window, task bar, file) */
#define TIDE_IDR_ARTWORK 201     /* RCDATA: the JPEG picture beside the path */

#ifdef __cplusplus
namespace tide {
constexpr int kProductIconResource = TIDE_IDI_PRODUCT;
constexpr int kArtworkResource = TIDE_IDR_ARTWORK;
}  // namespace tide
#endif
