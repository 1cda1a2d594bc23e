// The registration script of "Touchpoint.Hub".
#pragma once

inline constexpr char kHubRegistrationScript[] = R"(
HKCR
{
	Touchpoint.Hub.1 = s 'Hub Class'
	{
		CLSID = s '%CLSID%'
	}
	Touchpoint.Hub = s 'Hub Class'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Touchpoint.Hub.1'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Hub Class'
		{
			ProgID = s 'Touchpoint.Hub.1'
			VersionIndependentProgID = s 'Touchpoint.Hub'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '%LIBID%'
		}
	}
}
)";
