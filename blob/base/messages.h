// The library's three fixed message tables (tool, scene description, blob) and their indices.
#pragma once

// kc_BlobMessages: every message the library's public errors carry. A throw site passes one entry
// unchanged; nothing is ever inserted into the text. The entries live for the life of the process.
// Index with the named constants; the numbers are the tables' own and never change.
struct kc_BlobMessages {
  // Parameters and analysis tool; all carried by kcBlobDefs::BadParams.
  enum Tool : int {
    eMapMeaningless = 0,
    ePostMapMeaningless = 1,
    eThreshImageMeaningless = 2,
    eThreshMeaningless = 3,
    eHiThreshMeaningless = 4,
    eSoftnessMeaningless = 5,
    eThreshPercentMeaningless = 6,
    eTailsMeaningless = 7,
    eTailsNotSpecified = 8,
    eScaleNotPositive = 9,
    eLowNotBelowHigh = 10,
    eSoftnessAboveRange = 11,
    eSoftnessMax = 12,
    eLowTailRange = 13,
    eHiTailRange = 14,
    eTailSum = 15,
    eLowThreshPercentRange = 16,
    eHiThreshPercentRange = 17,
    eThreshPercentRange = 18,
    eThreshPercentOrder = 19,
    eMapEmpty = 20,
    eThreshImageUnbound = 21,
    eBadConnectivityType = 22,
    eBadMorphOp = 23,
    eCleanupWithWholeImage = 24,
    eImageUnbound = 25,
    eMinPelsNegative = 26,
    eImageEmpty = 27,
    eBadThreads = 28,
    eStreamSegmentation = 29,
    eStreamMaskOrMorph = 30,
    eStreamWidth = 31,
    eStreamRowWidth = 32,
    eStreamEnded = 33,
  };
  static constexpr int kToolCount = 34;
  static constexpr const wchar_t* kTool[kToolCount] = {
      L"The map (or pre map) is meaningless except when using mapped segmentation or threshold "
      L"image segmentation.",
      L"The post map is meaningless except when using threshold image segmentation.",
      L"The threshold image is meaningless except when using threshold image segmentation.",
      L"The threshold (or low threshold) is meaningless except when using hard or soft threshold "
      L"segmentation.",
      L"The high threshold is meaningless except when using soft threshold segmentation.",
      L"The softness is meaningless except when using soft threshold segmentation.",
      L"Asking whether the thresholds were specified as percentages is meaningless except when "
      L"using hard or soft threshold segmentation.",
      L"The tail percentages are meaningless except when using hard or soft threshold "
      L"segmentation.",
      L"The tail percentages are meaningless because tails were not specified.",
      L"The scale value must be greater than zero.",
      L"The low threshold must be less than the high threshold.",
      L"The softness must be less than or equal to the high threshold minus the low threshold.",
      L"The softness must be less than 255.",
      L"The low tail percentage must be in the range [0, 100].",
      L"The high tail percentage must be in the range [0, 100].",
      L"The sum of the low tail percentage and high tail percentage must be less than or equal "
      L"to 100.",
      L"The low threshold percentage must be in the range [0, 100].",
      L"The high threshold percentage must be in the range [0, 100].",
      L"The threshold percentage must be in the range [0, 100].",
      L"The low threshold percentage must be less than or equal to the high threshold "
      L"percentage.",
      L"The map must not be empty.",
      L"The threshold image is unbound.",
      L"The specified connectivity analysis type is not a valid enumeration value.",
      L"The specified morphology operation is not a valid enumeration value.",
      L"It is not possible to specify a cleanup method when using whole-image blob connectivity "
      L"analysis.",
      L"The image is unbound.",
      L"The minimum number of pels for connectivity cleanup must be nonnegative.",
      L"The width and height of image must be > 0.",
      L"The number of threads must be >= 0 (0: one per core).",
      L"A stream cannot use percentage thresholds or a threshold image: they need the whole image.",
      L"A stream cannot use a mask or morphology.",
      L"The width of a stream must be in the range [1, 2^31 - 1].",
      L"The rows fed to a stream must be bound and as wide as the stream.",
      L"The stream has ended: it was finished, or failed part way.",
  };

  // Scene description; entry eBadId goes with BadId, eDuplicateFilter with DuplicateFilter,
  // eDegenerate with Degenerate, the others with kcBlobDefs::BadParams.
  enum SceneDesc : int {
    eBadId = 0, eExcludeAreaNegative = 1, eExcludePercentRange = 2,
    eBadFilterIndex = 3, eFilterLimits = 4, eMinPelsMeaningless = 5,
    eScaleMeaningless = 6, eDuplicateFilter = 7, eDegenerate = 8,
  };
  static constexpr int kSceneDescCount = 9;
  static constexpr const wchar_t* kSceneDesc[kSceneDescCount] = {
      L"The specified blob ID is not valid.  The ID must be between 1 and the number of blobs, "
      L"inclusive.",
      L"The area to be excluded must be nonnegative.",
      L"The area percentage to be excluded must be in the range [0, 50).",
      L"The specified filter index is invalid. The index should be in the range [0, numFilters).",
      L"The filter low limit must be less than or equal to the high limit.",
      L"The minimum number of pels for connectivity cleanup is meaningless if no cleanup is "
      L"specified.",
      L"The scale value is meaningless for labelled connectivity.",
      L"Only one filter may be specified for a given blob measure. Please clear the existing "
      L"filter first if you want to replace it.",
      L"The blob scene description is degenerate, probably because the blob tool has not been "
      L"run yet.",
  };

  // Blob; both carried by kcBlob::BadMeasure.
  enum Blob : int {
    eBadMeasure = 0,
    eNoChainForWholeImage = 1,
  };
  static constexpr int kBlobCount = 2;
  static constexpr const wchar_t* kBlob[kBlobCount] = {
      L"The specified blob measure number is invalid.",
      L"It is not possible to compute the boundary chain, perimeter, acircularity, or RMS "
      L"acircularity when using whole-image blob connectivity analysis.",
  };
};
