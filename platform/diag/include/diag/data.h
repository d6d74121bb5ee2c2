// Diagnostics data: the persistent base of the data objects that diagnostics records carry.
#pragma once

#include <foundation/persistent.h>

#include <string>

// kcDiagData: a data object a record carries (kcDiagRecord::data). Derived classes hold what they
// describe, copy themselves and give a text for people to read.
//
// A plain kcDiagData carries nothing: copy() gives another plain kcDiagData and getAsText() an
// empty text. Every derived class must override copy() to make an object of its own class; a
// record refuses to take data whose copy() does not (kcDiagRecord::data).
//
// Archive form, version 0: one version byte, then the kcPersistent part. A newer version throws
// kcArchive::UnknownVersion("diag/data", line) before anything else is read. Registered as
// "kcDiagData". Derived classes archive this part by calling kcDiagData::dispatchSerialize from
// their serialize_.
class kcDiagData : public kcPersistent {
 public:
  kcDiagData() = default;
  kcDiagData(const kcDiagData&) = default;
  kcDiagData& operator=(const kcDiagData&) = default;
  ~kcDiagData() override;

  // copy(): a new copy of this object, of its dynamic class; the caller owns it.
  virtual kcDiagData* copy() const;
  // getAsText(): the object as text. Empty for a plain kcDiagData; derived classes say what theirs
  // holds and whether it can throw.
  virtual std::wstring getAsText() const;

 protected:
  void dispatchSerialize(kcArchive& ar) override;
  // serialize_(ar, version): archives this class level; version is the one read or written by
  // dispatchSerialize. dispatchSerialize calls its own class's serialize_, never an override.
  virtual void serialize_(kcArchive& ar, unsigned char version);

 private:
  static kcPersistent* make();
  static kc_Instantiator sExemplar;
};
