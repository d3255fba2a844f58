// bmRegExp: Norvex's regular-expression engine for cp932 text, leftmost-longest. Callers include
// this header and use TAWKStr:
//
//   TAWKStr re;
//   re.SetRegExp("part[0-9]+\\..*$");   // raises ERegExpParser for a bad pattern
//   int start, length;
//   if (re.Match(name, start, length) != 0) ...
#pragma once
#include "regexp/AWKStr.h"
#include "regexp/FuzzyCharDic.h"
#include "regexp/MatchCORE.h"
#include "regexp/RECommon.h"
#include "regexp/REDFA.h"
#include "regexp/RENFA.h"
#include "regexp/RENFAStateSet.h"
#include "regexp/REParseTree.h"
#include "regexp/REParser.h"
#include "regexp/REPreProcessor.h"
#include "regexp/REScanner.h"
#include "regexp/RegularExpression.h"
